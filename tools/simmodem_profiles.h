// What each simulated module answers to the commands of a status, in the forms its
// maker's manual gives. In a reply, {N} is a signal value that drifts from call to call
// with --drift, and {op:NAME} the network's name, which --operator replaces.
#pragma once

#include <stddef.h>

struct sim_answer {
    const char* command;  // in upper case
    const char* reply;
};

struct sim_profile {
    const char* name;
    const sim_answer* answers;
    size_t count;
};

#define SIM_OK "\r\n\r\nOK\r\n"
#define SIM_ICCID "\r\n+CRSM: 144,0,\"98942000002143658709\"" SIM_OK

// What every module answers where its profile does not say otherwise: a SIM that is
// ready, and registered at home.
constexpr sim_answer sim_common[] = {
    {"AT+CPIN?", "\r\n+CPIN: READY" SIM_OK}, {"AT+CRSM=176,12258,0,0,10", SIM_ICCID},
    {"AT+CREG?", "\r\n+CREG: 0,1" SIM_OK},   {"AT+CGREG?", "\r\n+CGREG: 0,1" SIM_OK},
    {"AT+CEREG?", "\r\n+CEREG: 0,1" SIM_OK}, {"AT+CMEE?", "\r\n+CMEE: 1" SIM_OK},
};

// A Quectel EC25 on LTE band 3, as a router carries it: the default.
constexpr sim_answer sim_ec25[] = {
    {"AT+CGMI", "\r\nQuectel" SIM_OK},
    {"AT+CGMM", "\r\nEC25" SIM_OK},
    {"AT+CGMR", "\r\nEC25EFAR06A06M4G" SIM_OK},
    {"AT+CGSN", "\r\n867698041234567" SIM_OK},
    {"AT+CIMI", "\r\n262021234567890" SIM_OK},
    {"AT+COPS?", "\r\n+COPS: 0,0,\"{op:Vodafone.de}\",7" SIM_OK},
    {"AT+CSQ", "\r\n+CSQ: 24,99" SIM_OK},
    {"AT+CESQ", "\r\n+CESQ: 99,99,255,255,{20},{46}" SIM_OK},
    {"AT+QENG=\"SERVINGCELL\"",
     "\r\n+QENG: \"servingcell\",\"NOCONN\",\"LTE\",\"FDD\",262,02,1A2D001,123,1300,3,5,5,3039,"
     "{-95},{-11},{-65},{10},-" SIM_OK},
    {"AT+QCAINFO", "\r\n+QCAINFO: \"pcc\",1300,75,\"LTE BAND 3\",1,123,-95,-11,-65,10" SIM_OK},
    {"AT+QTEMP", "\r\n+QTEMP: 36,38,37" SIM_OK},
};

// A Quectel RM520N on EN-DC: LTE band 1 with band 3 aggregated and an NR leg on n78,
// which the carrier-aggregation report lists too (its NR line without a state).
constexpr sim_answer sim_rm520_endc[] = {
    {"AT+CGMI", "\r\nQuectel" SIM_OK},
    {"AT+CGMM", "\r\nRM520N-GL" SIM_OK},
    {"AT+CGMR", "\r\nRM520NGLAAR03A03M4G" SIM_OK},
    {"AT+CGSN", "\r\n869710030123456" SIM_OK},
    {"AT+CIMI", "\r\n262011234567890" SIM_OK},
    {"AT+COPS?", "\r\n+COPS: 0,0,\"{op:Telekom.de}\",13" SIM_OK},
    {"AT+C5GREG?", "\r\n+C5GREG: 0,0" SIM_OK},
    {"AT+CSQ", "\r\n+CSQ: 26,99" SIM_OK},
    {"AT+CESQ", "\r\n+CESQ: 99,99,255,255,{22},{49}" SIM_OK},
    {"AT+QENG=\"SERVINGCELL\"",
     "\r\n+QENG: \"servingcell\",\"NOCONN\"\r\n"
     "+QENG: \"LTE\",\"FDD\",262,01,1A2D00B,214,300,1,5,5,3039,{-92},{-10},{-62},{14}\r\n"
     "+QENG:\"NR5G-NSA\",262,01,557,{-85},{17},{-11},632448,78,12,1" SIM_OK},
    {"AT+QCAINFO",
     "\r\n+QCAINFO: \"PCC\",300,100,\"LTE BAND 1\",1,214,-92,-10,-62,14\r\n"
     "+QCAINFO: \"SCC\",1300,75,\"LTE BAND 3\",1,33,{-98},{-12},{-70},{8}\r\n"
     "+QCAINFO: \"SCC\",632448,12,\"NR5G BAND 78\",557" SIM_OK},
    {"AT+QTEMP",
     "\r\n+QTEMP:\"modem-lte-sub6-pa1\",\"33\"\r\n+QTEMP:\"modem-sdr0-pa0\",\"35\"\r\n"
     "+QTEMP:\"cpu0-a7-usr\",\"41\"\r\n+QTEMP:\"xo-therm-usr\",\"-273\"" SIM_OK},
};

// The same module on NR standalone, n78 (the manual's example cell).
constexpr sim_answer sim_rm520_sa[] = {
    {"AT+CGMI", "\r\nQuectel" SIM_OK},
    {"AT+CGMM", "\r\nRM520N-GL" SIM_OK},
    {"AT+CGMR", "\r\nRM520NGLAAR03A03M4G" SIM_OK},
    {"AT+CGSN", "\r\n869710030123456" SIM_OK},
    {"AT+CIMI", "\r\n460011234567890" SIM_OK},
    {"AT+COPS?", "\r\n+COPS: 0,0,\"{op:CHINA MOBILE}\",11" SIM_OK},
    {"AT+CEREG?", "\r\n+CEREG: 0,0" SIM_OK},
    {"AT+C5GREG?", "\r\n+C5GREG: 0,1" SIM_OK},
    {"AT+CSQ", "\r\n+CSQ: 99,99" SIM_OK},
    {"AT+CESQ", "\r\n+CESQ: 99,99,255,255,255,255" SIM_OK},
    {"AT+QENG=\"SERVINGCELL\"",
     "\r\n+QENG: \"servingcell\",\"NOCONN\",\"NR5G-SA\",\"TDD\",460,01,9013B004,299,690E0F,"
     "633984,78,12,{-107},{-13},{2},1,-" SIM_OK},
    {"AT+QCAINFO", "\r\n+QCAINFO: \"PCC\",633984,12,\"NR5G BAND 78\",299" SIM_OK},
    {"AT+QTEMP", "\r\n+QTEMP: 40,42,255" SIM_OK},
};

// A Huawei ME909s on LTE band 3 (the manual's example cell).
constexpr sim_answer sim_huawei[] = {
    {"AT+CGMI", "\r\nHuawei Technologies Co., Ltd." SIM_OK},
    {"AT+CGMM", "\r\nME909s-120" SIM_OK},
    {"AT+CGMR", "\r\n11.617.01.00.00" SIM_OK},
    {"AT+CGSN", "\r\n866123034567890" SIM_OK},
    {"AT+CIMI", "\r\n460011234567890" SIM_OK},
    {"AT+COPS?", "\r\n+COPS: 0,0,\"{op:CHINA MOBILE}\",7" SIM_OK},
    {"AT+CSQ", "\r\n+CSQ: 21,99" SIM_OK},
    {"AT^HCSQ?", "\r\n^HCSQ: \"LTE\",48,{43},{151},{30}" SIM_OK},
    {"AT^SYSINFOEX", "\r\n^SYSINFOEX: 2,3,0,1,,6,\"LTE\",101,\"LTE\"" SIM_OK},
    {"AT^MONSC", "\r\n^MONSC: LTE,460,01,1650,A5C933,1F3,183D,{-98},{-5},{-72}" SIM_OK},
};

// A Telit LM960 on LTE band 66 (the manual's example).
constexpr sim_answer sim_telit[] = {
    {"AT+CGMI", "\r\nTelit" SIM_OK},
    {"AT+CGMM", "\r\nLM960A18" SIM_OK},
    {"AT+CGMR", "\r\n32.00.116" SIM_OK},
    {"AT+CGSN", "\r\n351234567890123" SIM_OK},
    {"AT+CIMI", "\r\n311480123456789" SIM_OK},
    {"AT+COPS?", "\r\n+COPS: 0,0,\"{op:Verizon}\",7" SIM_OK},
    {"AT+CSQ", "\r\n+CSQ: 22,99" SIM_OK},
    {"AT+CESQ", "\r\n+CESQ: 99,99,255,255,{10},{38}" SIM_OK},
    {"AT#RFSTS",
     "\r\n#RFSTS: \"311 480\",66536,{-103},{-68},{-15},0D00,255,,1280,1,0,033C416,"
     "\"000000000000000\",\"Verizon\",3,66" SIM_OK},
};

// A Cinterion PLS8 on LTE band 20, its values with decimals.
constexpr sim_answer sim_cinterion[] = {
    {"AT+CGMI", "\r\nCinterion" SIM_OK},
    {"AT+CGMM", "\r\nPLS8-E" SIM_OK},
    {"AT+CGMR", "\r\nREVISION 03.017" SIM_OK},
    {"AT+CGSN", "\r\n004401080123456" SIM_OK},
    {"AT+CIMI", "\r\n262021234567890" SIM_OK},
    {"AT+COPS?", "\r\n+COPS: 0,0,\"{op:Vodafone.de}\",7" SIM_OK},
    {"AT+CEREG?", "\r\n+CEREG: 0,5" SIM_OK},
    {"AT+CSQ", "\r\n+CSQ: 18,99" SIM_OK},
    {"AT^SMONI",
     "\r\n^SMONI: 4G,6300,20,10,10,FDD,262,02,BF75,0345103,350,33,{-94.5},{-7.5},NOCONN" SIM_OK},
};

// An Intel XMM 7360 in a Fibocom L850-GL on LTE band 3: its values in the scales of
// +CESQ, quoted hex for the cell.
constexpr sim_answer sim_xmm[] = {
    {"AT+CGMI", "\r\nFibocom Wireless Inc." SIM_OK},
    {"AT+CGMM", "\r\nL850-GL" SIM_OK},
    {"AT+CGMR", "\r\n18500.5001.00.01.27.30" SIM_OK},
    {"AT+CGSN", "\r\n015123004567890" SIM_OK},
    {"AT+CIMI", "\r\n262031234567890" SIM_OK},
    {"AT+COPS?", "\r\n+COPS: 0,0,\"{op:o2 - de}\",7" SIM_OK},
    {"AT+CSQ", "\r\n+CSQ: 23,99" SIM_OK},
    {"AT+CESQ", "\r\n+CESQ: 99,99,255,255,24,52" SIM_OK},
    {"AT+XCESQ?", "\r\n+XCESQ: 0,99,99,255,255,{24},{52},{20}" SIM_OK},
    {"AT+XMCI=1",
     "\r\n+XMCI: 4,262,03,\"0x5A3C\",\"0x01C3A20F\",\"0x01F5\",\"0x000004B0\",\"0x000049D0\","
     "\"0x00000050\",{52},{24},{20},\"0x00000000\"\r\n"
     "+XMCI: 5,262,03,\"0xFFFE\",\"0xFFFFFFFF\",\"0x0102\",\"0x000004B0\",\"0xFFFFFFFF\","
     "\"0xFFFFFFFF\",40,18,255" SIM_OK},
};

// A module of no maker this tool knows: the standard commands alone, its area and cell
// from a +CEREG set to report them (n=2).
constexpr sim_answer sim_3gpp[] = {
    {"AT+CGMI", "\r\n+CGMI: \"Acme Wireless\"" SIM_OK},
    {"AT+CGMM", "\r\n+CGMM: \"AW-100\"" SIM_OK},
    {"AT+CGMR", "\r\n+CGMR: \"1.0.7\"" SIM_OK},
    {"AT+CGSN", "\r\n+CGSN: \"356789012345678\"" SIM_OK},
    {"AT+CIMI", "\r\n234150123456789" SIM_OK},
    {"AT+COPS?", "\r\n+COPS: 0,0,\"{op:vodafone UK}\",7" SIM_OK},
    {"AT+CEREG?", "\r\n+CEREG: 2,1,\"3039\",\"01A2D001\",7" SIM_OK},
    {"AT+CSQ", "\r\n+CSQ: 19,99" SIM_OK},
    {"AT+CESQ", "\r\n+CESQ: 99,99,255,255,{18},{41}" SIM_OK},
};

// A SIMCom SIM7600G-H on LTE band 3 (a capture's cell), its signal in tenths.
constexpr sim_answer sim_sim7600[] = {
    {"AT+CGMI", "\r\nSIMCOM INCORPORATED" SIM_OK},
    {"AT+CGMM", "\r\nSIMCOM_SIM7600G-H" SIM_OK},
    {"AT+CGMR", "\r\n+CGMR: LE20B04SIM7600G22" SIM_OK},
    {"AT+CGSN", "\r\n862636052345678" SIM_OK},
    {"AT+CIMI", "\r\n460111234567890" SIM_OK},
    {"AT+COPS?", "\r\n+COPS: 0,0,\"{op:CHN-CT}\",7" SIM_OK},
    {"AT+CSQ", "\r\n+CSQ: 25,99" SIM_OK},
    {"AT+CPSI?",
     "\r\n+CPSI: LTE,Online,460-11,0x775C,117004595,399,EUTRAN-BAND3,1650,5,5,{-98},{-892},"
     "{-591},{12}" SIM_OK},
    {"AT+CPMUTEMP", "\r\n+CPMUTEMP: 38" SIM_OK},
};

// A SIMCom SIM8200EA on NR standalone, n78, its NR signal in tenths.
constexpr sim_answer sim_sim8200_sa[] = {
    {"AT+CGMI", "\r\nSIMCOM INCORPORATED" SIM_OK},
    {"AT+CGMM", "\r\nSIMCOM_SIM8200EA-M2" SIM_OK},
    {"AT+CGMR", "\r\n+CGMR: SIM8200M_V1.2" SIM_OK},
    {"AT+CGSN", "\r\n862636053456789" SIM_OK},
    {"AT+CIMI", "\r\n460001234567890" SIM_OK},
    {"AT+COPS?", "\r\n+COPS: 0,0,\"{op:CHINA MOBILE}\",11" SIM_OK},
    {"AT+CEREG?", "\r\n+CEREG: 0,0" SIM_OK},
    {"AT+C5GREG?", "\r\n+C5GREG: 0,1" SIM_OK},
    {"AT+CPSI?",
     "\r\n+CPSI: NR5G_SA,Online,460-00,0x6F4A,4881244161,273,NR5G_BAND78,627264,{-520},{-110},"
     "{40}" SIM_OK},
    {"AT+CPMUTEMP", "\r\n+CPMUTEMP: 44" SIM_OK},
};

// A Sierra Wireless EM7565 on LTE band 2 with two secondary carriers, one active and
// one configured, its report in TAB columns.
constexpr sim_answer sim_em7565[] = {
    {"AT+CGMI", "\r\nSierra Wireless, Incorporated" SIM_OK},
    {"AT+CGMM", "\r\nEM7565" SIM_OK},
    {"AT+CGMR", "\r\nSWI9X50C_01.14.02.00" SIM_OK},
    {"AT+CGSN", "\r\n353533100123456" SIM_OK},
    {"AT+CIMI", "\r\n310410123456789" SIM_OK},
    {"AT+COPS?", "\r\n+COPS: 0,0,\"{op:AT&T}\",7" SIM_OK},
    {"AT+CSQ", "\r\n+CSQ: 24,99" SIM_OK},
    {"AT!GSTATUS?",
     "\r\n!GSTATUS: \r\nCurrent Time:  5213\t\tTemperature: 42\r\nReset Counter: 1\t\tMode:       "
     " ONLINE\r\nSystem mode:   LTE\t\tPS state:    Attached\r\nLTE band:      B2\t\tLTE bw:      "
     "20 "
     "MHz\r\nLTE Rx chan:   1100\t\tLTE Tx chan: 19100\r\nLTE SSC1 state:ACTIVE\t\tLTE SSC1 "
     "band:B66\r\nLTE SSC1 bw  : 20 MHz\t\tLTE SSC1 chan: 66786\r\nLTE SSC2 state:INACTIVE\t\tLTE "
     "SSC2 band:B12\r\nLTE SSC2 bw  : 10 MHz\t\tLTE SSC2 chan: 5110\r\nLTE SSC3 state:NOT "
     "ASSIGNED\r\nEMM state:     Registered\t\tNormal Service\r\nRRC state:     RRC "
     "Connected\r\nIMS reg state: No Srv\r\n\r\nPCC RxM RSSI:  {-62}\t\tRSRP (dBm):  {-91}\r\nPCC "
     "RxD RSSI:  -65\t\tRSRP (dBm):  -95\r\nSSC1 RxM RSSI: -66\t\tRSRP (dBm):  -97\r\nSSC1 RxD "
     "RSSI: -64\t\tRSRP (dBm):  -94\r\nTx Power:      10\t\tTAC:         8B0F (35599)\r\nRSRQ "
     "(dB):     -10.5\t\tCell ID:     0A1FC518 (169854232)\r\nSINR (dB):     14.2" SIM_OK},
    {"AT!LTEINFO?",
     "\r\n!LTEINFO: \r\nServing:   EARFCN MCC MNC   TAC      CID Bd D U SNR PCI  RSRQ   RSRP   "
     "RSSI RXLV\r\n             1100 310 410 35599 0A1FC518  2 5 5  14 269 -10.6  -90.8  -61.7 "
     "--\r\nIntraFreq:                                          PCI  RSRQ   RSRP   RSSI "
     "RXLV\r\n                                                    269 -10.6  -90.8  -61.7 "
     "--" SIM_OK},
};

// A Sierra Wireless EM9191 on NR standalone, n41: NR's values in AT!NRINFO? win.
constexpr sim_answer sim_em919x[] = {
    {"AT+CGMI", "\r\nSierra Wireless, Incorporated" SIM_OK},
    {"AT+CGMM", "\r\nEM9191" SIM_OK},
    {"AT+CGMR", "\r\nSWIX55C_03.09.06.00" SIM_OK},
    {"AT+CGSN", "\r\n353533109876543" SIM_OK},
    {"AT+CIMI", "\r\n310260123456789" SIM_OK},
    {"AT+COPS?", "\r\n+COPS: 0,0,\"{op:T-Mobile}\",11" SIM_OK},
    {"AT+CEREG?", "\r\n+CEREG: 0,0" SIM_OK},
    {"AT+C5GREG?", "\r\n+C5GREG: 0,1" SIM_OK},
    {"AT!GSTATUS?",
     "\r\n!GSTATUS: \r\nCurrent Time:  812\t\tTemperature: 47\r\nReset Counter: 2\t\tMode:        "
     "ONLINE\r\nSystem mode:   NR5G\t\tPS state:    Attached\r\nNR5G band:     n41\t\tNR5G dl bw:  "
     "100 MHz\r\nNR5G Rx chan:  520110\t\tNR5G Tx chan: 520110\r\nNR5G TAC:      9C40\t\tNR5G Cell "
     "ID: 2A1B3C4D5 (11302847701)\r\nNR5G RSRP (dBm): -88.0\tNR5G RSRQ (dB): -11.5\r\nNR5G SINR "
     "(dB): 16.5\r\nNR5G(sub6) Rx0 RSSI (dBm): -61.2\tNR5G(sub6) Rx1 RSSI (dBm): "
     "-59.8\r\nNR5G(sub6) Rx2 RSSI (dBm): -63.0\tNR5G(sub6) Rx3 RSSI (dBm): -60.4" SIM_OK},
    {"AT!LTEINFO?",
     "\r\n!LTEINFO: \r\nServing:   EARFCN MCC MNC   TAC      CID Bd D U SNR PCI  RSRQ   RSRP   "
     "RSSI RXLV\r\nIntraFreq:                                          PCI  RSRQ   RSRP   RSSI "
     "RXLV" SIM_OK},
    {"AT!NRINFO?",
     "\r\n!NRINFO: \r\nConnectivity Mode: SA\r\nNR5G band:     n41\t\tNR5G dl bw:  100 MHz\r\nNR5G "
     "Rx chan:  520110\r\nNR5G Cell ID: 2A1B3C4D5 (11302847701)\r\nNR5G RSRP (dBm): "
     "{-87.5}\tNR5G RSRQ (dB): {-11.0}\r\nNR5G SINR (dB): {17.0}\r\nNR5G(sub6) Rx0 RSSI (dBm): "
     "-61.0" SIM_OK},
};

// A Fibocom FM350-GL (MediaTek) on EN-DC: LTE band 1 with bands 3 and 20 aggregated and
// an NR leg on n78; its MNC written without its zero.
constexpr sim_answer sim_fm350_endc[] = {
    {"AT+CGMI", "\r\n+CGMI: \"Fibocom Wireless Inc.\"" SIM_OK},
    {"AT+CGMM", "\r\n+CGMM: \"FM350-GL\"" SIM_OK},
    {"AT+CGMR", "\r\n+CGMR: \"81600.0000.00.29.23.03\"" SIM_OK},
    {"AT+CGSN", "\r\n+CGSN: \"869876050123456\"" SIM_OK},
    {"AT+CIMI", "\r\n262011234567890" SIM_OK},
    {"AT+COPS?", "\r\n+COPS: 0,0,\"{op:Telekom.de}\",13" SIM_OK},
    {"AT+C5GREG?", "\r\n+C5GREG: 0,0" SIM_OK},
    {"AT+CSQ", "\r\n+CSQ: 26,99" SIM_OK},
    {"AT+GTCCINFO?",
     "\r\n+GTCCINFO:\r\n1,4,262,1,3039,01A2D00B,300,214,101,100,28,49,49,20\r\n\r\n1,9,,,,,632448,"
     "557,5078,500,17,56,56,60\r\n2,4,,,FFFF,00FFFFFFF,300,130,,42,42,10" SIM_OK},
    {"AT+GTCAINFO?",
     "\r\n+GTCAINFO:\r\nPCC:5078,557,632448,500,100,2,1,1,3,3,{-84}\r\nPCC:101,214,300,100,100,2,"
     "1,1,3,3,{-90}\r\nSCC 1:2,0,103,33,1300,75,255,2,255,1,255,-90\r\nSCC "
     "2:1,0,120,151,6300,50,255,1,255,2,255,-90" SIM_OK},
    {"AT+GTSENRDTEMP=1", "\r\n+GTSENRDTEMP: 1,39512" SIM_OK},
};

// A Fibocom FM150-AE (Qualcomm) on LTE band 3, idle: its channel and PCI in hex, no
// carrier report, the network's codes from AT+COPS? in format 2.
constexpr sim_answer sim_fm150[] = {
    {"AT+CGMI", "\r\n+CGMI: \"Fibocom Wireless Inc.\"" SIM_OK},
    {"AT+CGMM", "\r\nFM150-AE" SIM_OK},
    {"AT+CGMR", "\r\n19500.0000.00.01.01.10" SIM_OK},
    {"AT+CGSN", "\r\n864280041234567" SIM_OK},
    {"AT+CIMI", "\r\n234150123456789" SIM_OK},
    {"AT+COPS?", "\r\n+COPS: 0,2,\"23415\",7" SIM_OK},
    {"AT+CSQ", "\r\n+CSQ: 20,99" SIM_OK},
    {"AT+GTCCINFO?",
     "\r\n+GTCCINFO:\r\nLTE service cell:\r\n1,4,234,15,4E20,01A2D001,73A,7B,103,100,{20},{50},"
     "{50},{22}\r\nLTE neighbor "
     "cell:\r\n2,4,234,15,4E20,01A2D002,73A,7C,103,100,10,40,40,15" SIM_OK},
    {"AT+GTCAINFO?", "\r\nOK\r\n"},
    {"AT+GTSENRDTEMP=1", "\r\n+GTSENRDTEMP: 1,41250" SIM_OK},
};

#define SIM_PROFILE(name, answers) \
    { name, answers, sizeof answers / sizeof *answers }
constexpr sim_profile sim_profiles[] = {
    SIM_PROFILE("ec25", sim_ec25),
    SIM_PROFILE("rm520-endc", sim_rm520_endc),
    SIM_PROFILE("rm520-sa", sim_rm520_sa),
    SIM_PROFILE("huawei", sim_huawei),
    SIM_PROFILE("telit", sim_telit),
    SIM_PROFILE("cinterion", sim_cinterion),
    SIM_PROFILE("xmm", sim_xmm),
    SIM_PROFILE("3gpp", sim_3gpp),
    SIM_PROFILE("sim7600", sim_sim7600),
    SIM_PROFILE("sim8200-sa", sim_sim8200_sa),
    SIM_PROFILE("em7565", sim_em7565),
    SIM_PROFILE("em919x", sim_em919x),
    SIM_PROFILE("fm350-endc", sim_fm350_endc),
    SIM_PROFILE("fm150", sim_fm150),
};
#undef SIM_PROFILE
#undef SIM_ICCID
#undef SIM_OK
