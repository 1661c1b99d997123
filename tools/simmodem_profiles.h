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

#define SIM_PROFILE(name, answers) \
    { name, answers, sizeof answers / sizeof *answers }
constexpr sim_profile sim_profiles[] = {
    SIM_PROFILE("ec25", sim_ec25),         SIM_PROFILE("rm520-endc", sim_rm520_endc),
    SIM_PROFILE("rm520-sa", sim_rm520_sa), SIM_PROFILE("huawei", sim_huawei),
    SIM_PROFILE("telit", sim_telit),       SIM_PROFILE("cinterion", sim_cinterion),
    SIM_PROFILE("xmm", sim_xmm),           SIM_PROFILE("3gpp", sim_3gpp),
};
#undef SIM_PROFILE
#undef SIM_ICCID
#undef SIM_OK
