// The status decoder against replies as the makers' manuals give them, in each spelling
// the firmware of the field uses, and against the markers of no value.
#include "status/status.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// The reader of a command, from the standard commands or any profile's; "FM150 " before
// it names the Qualcomm form of Fibocom's reports.
status_reader reader_of(std::string command) {
    const std::string qualcomm = "FM150 ";
    const bool hex = command.rfind(qualcomm, 0) == 0;
    if (hex) command.erase(0, qualcomm.size());
    for (int profile = hex ? static_cast<int>(status_profile::fibocom_qualcomm) : 0;
         profile <= static_cast<int>(status_profile::fibocom_qualcomm); ++profile) {
        const status_command* commands = nullptr;
        const size_t count =
            profile == 0 ? status_standard_commands(commands)
                         : status_profile_commands(static_cast<status_profile>(profile), commands);
        for (size_t i = 0; i < count; ++i) {
            if (command == commands[i].text) return commands[i].read;
        }
    }
    ADD_FAILURE() << "no reader for " << command;
    return [](status_record&, const char*, size_t) {};
}

std::string number(int64_t value, bool tenths) {
    if (!tenths) return std::to_string(value);
    std::string text = std::to_string(value / 10);
    if (value < 0 && value > -10) text = "-" + text;
    return value % 10 == 0 ? text : text + "." + std::to_string(std::abs(value % 10));
}

void add(std::string& into, const std::string& name, int64_t value, bool tenths = false) {
    if (value != status_unknown) into += name + "=" + number(value, tenths) + " ";
}

void add(std::string& into, const std::string& name, const char* text) {
    if (text != nullptr && text[0] != '\0') into += name + "=" + text + " ";
}

void add(std::string& into, const std::string& prefix, const status_carrier& carrier) {
    add(into, prefix + "band", carrier.band);
    add(into, prefix + "channel", carrier.channel);
    add(into, prefix + "pci", carrier.pci);
    add(into, prefix + "bandwidth", carrier.bandwidth, true);
    add(into, prefix + "rsrp", carrier.rsrp, true);
    add(into, prefix + "rsrq", carrier.rsrq, true);
    add(into, prefix + "rssi", carrier.rssi, true);
    add(into, prefix + "sinr", carrier.sinr, true);
}

// The known fields of a record, "name=value" each, in the document's order.
std::string known(const status_record& r) {
    std::string into;
    add(into, "manufacturer", r.manufacturer);
    add(into, "model", r.model);
    add(into, "imei", r.imei);
    add(into, "sim", r.sim);
    add(into, "imsi", r.imsi);
    add(into, "iccid", r.iccid);
    add(into, "operator", r.network);
    add(into, "mcc", r.mcc);
    add(into, "mnc", r.mnc);
    add(into, "registration", r.registration);
    add(into, "technology", r.technology);
    add(into, "band", r.band);
    add(into, "channel", r.channel);
    add(into, "pci", r.pci);
    add(into, "cell", r.cell);
    add(into, "tac", r.tac);
    add(into, "bandwidth", r.bandwidth, true);
    add(into, "rssi", r.rssi, true);
    add(into, "rsrp", r.rsrp, true);
    add(into, "rsrq", r.rsrq, true);
    add(into, "sinr", r.sinr, true);
    add(into, "rscp", r.rscp, true);
    add(into, "ecio", r.ecio, true);
    if (r.nr_known) add(into, "nr.", r.nr);
    for (size_t i = 0; i < r.carrier_count; ++i) {
        add(into, std::to_string(i + 1) + (r.carriers[i].nr ? ".nr." : ".lte."), r.carriers[i]);
    }
    add(into, "left_out", r.carriers_left_out);
    add(into, "temperature", r.temperature, true);
    if (!into.empty()) into.pop_back();
    return into;
}

struct reply_case {
    const char* what;
    std::vector<std::pair<const char*, std::string>> replies;  // command, its reply
    std::string fields;
};

const std::string ok = "\r\n\r\nOK\r\n";

// A carrier-aggregation report of `count` LTE secondaries, or the fields of the first
// `count` of them.
std::string secondaries(int count, bool fields) {
    std::string text;
    for (int i = 1; i <= count; ++i) {
        const std::string at = std::to_string(i) + ".lte.";
        text += fields ? at + "band=3 " + at + "channel=1300 " + at + "pci=" + std::to_string(i) +
                             " " + at + "bandwidth=20 "
                       : "\r\n+QCAINFO: \"SCC\",1300,100,\"LTE BAND 3\",1," + std::to_string(i);
    }
    return text;
}

TEST(StatusDecode, RepliesGiveTheirFields) {
    const reply_case cases[] = {
        // Identity: the text line, its tag and quotes off; a result code is none.
        {"identity",
         {{"AT+CGMI", "\r\nQuectel" + ok},
          {"AT+CGMM", "\r\n+CGMM: \"RM520N-GL\"" + ok},
          {"AT+CGSN", "\r\n+CREG: 1\r\n+CGSN: 867698041234567" + ok},
          {"AT+CIMI", "\r\nERROR\r\n"}},
         "manufacturer=Quectel model=RM520N-GL imei=867698041234567"},
        {"SIM ready", {{"AT+CPIN?", "\r\n+CPIN: READY" + ok}}, "sim=ready"},
        {"SIM PIN", {{"AT+CPIN?", "\r\n+CPIN: SIM PIN" + ok}}, "sim=pin"},
        {"SIM PUK2", {{"AT+CPIN?", "\r\n+CPIN:SIM PUK2" + ok}}, "sim=puk2"},
        {"network lock", {{"AT+CPIN?", "\r\n+CPIN: PH-NET PIN" + ok}}, "sim=locked"},
        {"no SIM", {{"AT+CPIN?", "\r\n+CME ERROR: 10\r\n"}}, "sim=absent"},
        {"no SIM, said", {{"AT+CPIN?", "\r\n+CME ERROR: SIM not inserted\r\n"}}, "sim=absent"},
        {"SIM failure", {{"AT+CPIN?", "\r\n+CME ERROR: 13\r\n"}}, "sim=failure"},
        // ICCID: digits swapped in each byte, the filler F gone; only good status words.
        {"ICCID",
         {{"AT+CRSM=176,12258,0,0,10", "\r\n+CRSM: 144,0,\"98942000002143658709\"" + ok}},
         "iccid=89490200001234567890"},
        {"ICCID of 19 digits",
         {{"AT+CRSM=176,12258,0,0,10", "\r\n+CRSM: 144,0,989420000021436587F9" + ok}},
         "iccid=8949020000123456789"},
        {"ICCID not read", {{"AT+CRSM=176,12258,0,0,10", "\r\n+CRSM: 106,130" + ok}}, ""},
        {"ICCID of 16 digits",
         {{"AT+CRSM=176,12258,0,0,10", "\r\n+CRSM: 144,0,\"9894200000214365\"" + ok}},
         ""},
        {"ICCID of 40 digits",
         {{"AT+CRSM=176,12258,0,0,10",
           "\r\n+CRSM: 144,0,\"9894200000214365870998942000002143658709\"" + ok}},
         ""},
        // Only a line that can be the command's answer: no news (a call, a restart, a
        // connection's end, a message), no echo of this command or a late one's.
        {"news before text answers",
         {{"AT+CGMI", "\r\n+CMTI: \"SM\",3\r\nAT+CGMI\r\r\nQuectel" + ok},
          {"AT+CGMM", "\r\nRDY\r\n\r\nNO CARRIER\r\n\r\nEC25" + ok},
          {"AT+CGSN", "\r\nRING\r\n\r\nAT+CGMR\r\n867698041234567" + ok},
          {"AT+CIMI", "\r\nPB DONE\r\n\r\nEC25\r\n262021234567890" + ok}},
         "manufacturer=Quectel model=EC25 imei=867698041234567 imsi=262021234567890"},
        {"no text answer at all",
         {{"AT+CGMM", "\r\nRING\r\n\r\n^HCSQ: \"LTE\",60\r\nAT+CGMI\r" + ok},
          {"AT+CGSN", "\r\nQuectel" + ok}},
         ""},
        // Texts cut where a character starts; a quote inside a name is part of it.
        {"text cut at a character",
         {{"AT+CGMM", "\r\n" + std::string(62, 'M') + "\xc3\xa9" + ok}},
         "model=MMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMM"},
        {"quote in a name",
         {{"AT+COPS?", "\r\n+COPS: 0,0,\"A\"B\"C\",7" + ok}},
         "operator=A\"B\"C technology=lte"},
        // Operator in each format, and the access technologies.
        {"operator by name",
         {{"AT+COPS?", "\r\n+COPS: 0,0,\"Vodafone.de\",7" + ok}},
         "operator=Vodafone.de technology=lte"},
        {"operator by number",
         {{"AT+COPS?", "\r\n+COPS: 0,2,\"26201\",13" + ok}},
         "mcc=262 mnc=01 technology=nr5g-nsa"},
        {"not registered", {{"AT+COPS?", "\r\n+COPS: 0" + ok}}, ""},
        // Registration: the first of C5GREG, CEREG, CGREG, CREG that is registered, its
        // area and cell where no report gave them, quoted or not; 36 bits kept.
        {"registration",
         {{"AT+CREG?", "\r\n+CREG: 0,1" + ok},
          {"AT+CEREG?", "\r\n+CEREG: 2,5,\"3039\",\"01A2D001\",7" + ok},
          {"AT+C5GREG?", "\r\n+C5GREG: 0,0" + ok}},
         "registration=roaming cell=27447297 tac=12345"},
        {"registration in 5G, 36-bit cell",
         {{"AT+CEREG?", "\r\n+CEREG: 0,1" + ok},
          {"AT+C5GREG?", "\r\n+C5GREG: 2,1,690E0F,A9013B004,11" + ok}},
         "registration=home cell=45366882308 tac=6884879"},
        {"searching", {{"AT+CGREG?", "\r\n+CGREG: 0,2" + ok}}, "registration=searching"},
        // News in the form n=2 gives, before the answer or alone, is no answer.
        {"registration news first",
         {{"AT+CEREG?",
           "\r\n+CEREG: 1,\"0005\",\"1A2B3C\",7\r\n+CEREG: 1,0005,1A2B3C,7\r\n+CEREG: "
           "0,2" +
               ok}},
         "registration=searching"},
        {"registration news alone",
         {{"AT+CEREG?", "\r\n+CEREG: 1,\"0005\",\"1A2B3C\",7\r\n+CEREG: 5" + ok}},
         ""},
        // CSQ and CESQ, and their markers of no value.
        {"CSQ", {{"AT+CSQ", "\r\n+CSQ: 24,99" + ok}}, "rssi=-65"},
        {"CSQ at its ends", {{"AT+CSQ", "\r\n+CSQ: 31,99" + ok}}, "rssi=-51"},
        {"CSQ unknown", {{"AT+CSQ", "\r\n+CSQ: 99,99" + ok}}, ""},
        {"CESQ on LTE", {{"AT+CESQ", "\r\n+CESQ: 99,99,255,255,20,46" + ok}}, "rsrp=-95 rsrq=-10"},
        {"CESQ on UMTS",
         {{"AT+CESQ", "\r\n+CESQ: 40,0,50,30,255,255" + ok}},
         "rssi=-71 rscp=-71 ecio=-9.5"},
        // Quectel: LTE as the manual gives it, then the other forms and spellings.
        {"LTE",
         {{"AT+QENG=\"servingcell\"",
           "\r\n+QENG: "
           "\"servingcell\",\"NOCONN\",\"LTE\",\"FDD\",460,01,5F1EA15,12,1650,3,5,5,DE10,"
           "-100,-12,-68,11,-,-,27" +
               ok}},
         "mcc=460 mnc=01 technology=lte band=3 channel=1650 pci=12 cell=99740181 tac=56848 "
         "bandwidth=20 rssi=-68 rsrp=-100 rsrq=-12 sinr=11"},
        {"LTE unquoted, spaced, in lower case, without the tag's space",
         {{"AT+QENG=\"servingcell\"",
           "\r\n+QENG:servingcell, NOCONN , lte ,FDD,262,02,1A2D001,123,1300,3,5,4,3039,-95,-11,"
           "-65,10" +
               ok}},
         "mcc=262 mnc=02 technology=lte band=3 channel=1300 pci=123 cell=27447297 tac=12345 "
         "bandwidth=15 rssi=-65 rsrp=-95 rsrq=-11 sinr=10"},
        {"WCDMA",
         {{"AT+QENG=\"servingcell\"",
           "\r\n+QENG: "
           "\"servingcell\",\"NOCONN\",\"WCDMA\",460,01,A5C9,2F15D3E,10713,296,2,-87,-9,-,"
           "-,-,-,-" +
               ok}},
         "mcc=460 mnc=01 technology=umts channel=10713 pci=296 cell=49372478 tac=42441 rscp=-87 "
         "ecio=-9"},
        {"GSM",
         {{"AT+QENG=\"servingcell\"",
           "\r\n+QENG: \"servingcell\",\"NOCONN\",\"GSM\",460,00,5F,5A3,27,62,0,-61,255,255,255,0" +
               ok}},
         "mcc=460 mnc=00 technology=gsm channel=62 cell=1443 tac=95 rssi=-61"},
        {"NR standalone",
         {{"AT+QENG=\"servingcell\"",
           "\r\n+QENG: \"servingcell\",\"NOCONN\",\"NR5G-SA\",\"TDD\",460,01,9013B004,299,690E0F,"
           "633984,78,12,-107,-13,2,1,-" +
               ok}},
         "mcc=460 mnc=01 technology=nr5g-sa band=78 channel=633984 pci=299 cell=2417209348 "
         "tac=6884879 bandwidth=100 rsrp=-107 rsrq=-13 sinr=2"},
        {"EN-DC, its NR leg with SINR before RSRQ",
         {{"AT+QENG=\"servingcell\"",
           "\r\n+QENG: \"servingcell\",\"NOCONN\"\r\n+QENG: "
           "\"LTE\",\"FDD\",262,01,1A2D00B,214,300,1,"
           "5,5,3039,-92,-10,-62,14\r\n+QENG:\"NR5G-NSA\",262,01,557,-85,17,-11,632448,78,12,1" +
               ok}},
         "mcc=262 mnc=01 technology=nr5g-nsa band=1 channel=300 pci=214 cell=27447307 tac=12345 "
         "bandwidth=20 rssi=-62 rsrp=-92 rsrq=-10 sinr=14 nr.band=78 nr.channel=632448 nr.pci=557 "
         "nr.bandwidth=100 nr.rsrp=-85 nr.rsrq=-11 nr.sinr=17"},
        {"searching",
         {{"AT+QENG=\"servingcell\"", "\r\n+QENG: \"servingcell\",\"SEARCH\"" + ok}},
         ""},
        // Markers of no value: -, an empty field, -32768.
        {"markers",
         {{"AT+QENG=\"servingcell\"",
           "\r\n+QENG: \"servingcell\",\"NOCONN\",\"NR5G-SA\",\"TDD\",460,01,-,299,,633984,78,12,"
           "-32768,-32768,-,1,-" +
               ok}},
         "mcc=460 mnc=01 technology=nr5g-sa band=78 channel=633984 pci=299 bandwidth=100"},
        {"carriers",
         {{"AT+QCAINFO",
           "\r\n+QCAINFO: \"pcc\",300,100,\"LTE BAND 1\",1,214,-92,-10,-62,14\r\n+QCAINFO: "
           "\"scc\",1300,75,\"LTE BAND 3\",1,33,-98,-12,-70,8\r\n+QCAINFO: \"SCC\",632448,12,"
           "\"NR5G BAND 78\",1,557,0,-\r\n+QCAINFO: \"SCC\",627264,10,\"NR5G BAND 78\",101" +
               ok}},
         "1.lte.band=3 1.lte.channel=1300 1.lte.pci=33 1.lte.bandwidth=15 1.lte.rsrp=-98 "
         "1.lte.rsrq=-12 1.lte.rssi=-70 1.lte.sinr=8 2.nr.band=78 2.nr.channel=632448 2.nr.pci=557 "
         "2.nr.bandwidth=100 3.nr.band=78 3.nr.channel=627264 3.nr.pci=101 3.nr.bandwidth=80"},
        {"carriers past sixteen",
         {{"AT+QCAINFO", secondaries(18, false) + ok}},
         secondaries(16, true) + "left_out=2"},
        {"temperatures", {{"AT+QTEMP", "\r\n+QTEMP: 36,255,41" + ok}}, "temperature=41"},
        {"temperatures by sensor",
         {{"AT+QTEMP",
           "\r\n+QTEMP:\"modem-lte-sub6-pa1\",\"33\"\r\n+QTEMP: \"cpu0-a7-usr\",\"44\"\r\n"
           "+QTEMP:\"xo-therm-usr\",\"-273\"" +
               ok}},
         "temperature=44"},
        // Huawei: sysmode quoted or not, each scale, 255 as no value.
        {"Huawei LTE",
         {{"AT^HCSQ?", "\r\n^HCSQ: \"LTE\",48,43,151,30" + ok},
          {"AT^SYSINFOEX", "\r\n^SYSINFOEX: 2,3,0,1,,6,\"LTE\",101,\"LTE\"" + ok}},
         "technology=lte rssi=-73 rsrp=-98 rsrq=-5 sinr=10"},
        {"Huawei WCDMA",
         {{"AT^HCSQ?", "\r\n^HCSQ: WCDMA,40,35,50" + ok}},
         "rssi=-81 rscp=-86 ecio=-7.5"},
        {"Huawei unknown", {{"AT^HCSQ?", "\r\n^HCSQ: \"LTE\",255,255,255,255" + ok}}, ""},
        {"Huawei cell, band from its EARFCN",
         {{"AT^MONSC", "\r\n^MONSC: LTE,460,01,1650,A5C933,1F3,183D,-98,-5,-72" + ok}},
         "mcc=460 mnc=01 band=3 channel=1650 pci=499 cell=10864947 tac=6205 rssi=-72 rsrp=-98 "
         "rsrq=-5"},
        // Telit: the LTE form as the manual gives it, with SINR at its tail, and UMTS.
        {"Telit LTE",
         {{"AT+COPS?", "\r\n+COPS: 0,0,\"Verizon\",7" + ok},
          {"AT#RFSTS",
           "\r\n#RFSTS: \"311 "
           "480\",66536,-103,-68,-15,0D00,255,,1280,1,0,033C416,\"000000000000000\","
           "\"Verizon\",3,66" +
               ok}},
         "operator=Verizon mcc=311 mnc=480 technology=lte band=66 channel=66536 cell=3392534 "
         "tac=3328 rssi=-68 rsrp=-103 rsrq=-15"},
        {"Telit LTE with SINR",
         {{"AT#RFSTS",
           "\r\n#RFSTS:\"262 01\",1300,-95,-65,-11,3039,255,0,128,19,0,1A2D001,\"262011234567890\","
           "\"Telekom\",3,3,720,3240,12" +
               ok}},
         "mcc=262 mnc=01 technology=lte band=3 channel=1300 cell=27447297 tac=12345 rssi=-65 "
         "rsrp=-95 rsrq=-11 sinr=12"},
        {"Telit UMTS",
         {{"AT+COPS?", "\r\n+COPS: 0,0,\"TIM\",2" + ok},
          {"AT#RFSTS",
           "\r\n#RFSTS: \"222 01\",10588,148,-5,-85,-80,5B1D,00,-128,64,19,0,1,0,1A2D001,"
           "\"222011234567890\",\"TIM\",3,1" +
               ok}},
         "operator=TIM mcc=222 mnc=01 technology=umts channel=10588 pci=148 tac=23325 rssi=-80 "
         "rscp=-85 ecio=-5"},
        // Telit's GSM form, and an LTE report read as LTE whatever AT+COPS? said.
        {"Telit GSM",
         {{"AT#RFSTS",
           "\r\n#RFSTS: \"222 01\",62,-75,5B1D,00,,1,0,1,1A2D,\"222011234567890\",\"TIM\",3,3" +
               ok}},
         "mcc=222 mnc=01 technology=gsm channel=62 tac=23325 rssi=-75"},
        {"Telit LTE after UMTS",
         {{"AT+COPS?", "\r\n+COPS: 0,0,\"TIM\",2" + ok},
          {"AT#RFSTS",
           "\r\n#RFSTS: \"222 01\",1300,-95,-65,-11,3039,255,,128,19,0,1A2D001,\"\",\"TIM\",3,3" +
               ok}},
         "operator=TIM mcc=222 mnc=01 technology=lte band=3 channel=1300 cell=27447297 tac=12345 "
         "rssi=-65 rsrp=-95 rsrq=-11"},
        {"Telit form unknown", {{"AT#RFSTS", "\r\n#RFSTS: \"222 01\",10588,148,-5" + ok}}, ""},
        // Values no measurement or identity of their field can take are unknown, at
        // each range's edges: LTE PCI 0-503, NR 0-1007, 28- and 36-bit cells.
        {"LTE out of range",
         {{"AT+QENG=\"servingcell\"",
           "\r\n+QENG: \"servingcell\",\"NOCONN\",\"LTE\",\"FDD\",262,01,10000000,504,-3350,-7,"
           "5,5,10000,-99999999999,3,-2242,41" +
               ok}},
         "mcc=262 mnc=01 technology=lte bandwidth=20"},
        {"LTE at the range's edges",
         {{"AT+QENG=\"servingcell\"",
           "\r\n+QENG: \"servingcell\",\"NOCONN\",\"LTE\",\"FDD\",262,01,FFFFFFE,503,0,1,5,5,"
           "FFFD,-156,-34,-130,40" +
               ok}},
         "mcc=262 mnc=01 technology=lte band=1 channel=0 pci=503 cell=268435454 tac=65533 "
         "bandwidth=20 rssi=-130 rsrp=-156 rsrq=-34 sinr=40"},
        {"NR out of range",
         {{"AT+QENG=\"servingcell\"",
           "\r\n+QENG: \"servingcell\",\"NOCONN\",\"NR5G-SA\",\"TDD\",460,01,1000000000,1008,"
           "690E0F,3279166,264,12,-30,21,-24" +
               ok}},
         "mcc=460 mnc=01 technology=nr5g-sa tac=6884879 bandwidth=100 sinr=-2.4"},
        {"NR at the range's edges",
         {{"AT+QENG=\"servingcell\"",
           "\r\n+QENG: \"servingcell\",\"NOCONN\",\"NR5G-SA\",\"TDD\",460,01,FFFFFFFFE,1007,"
           "690E0F,3279165,263,12,-31,20,-23" +
               ok}},
         "mcc=460 mnc=01 technology=nr5g-sa band=263 channel=3279165 pci=1007 cell=68719476734 "
         "tac=6884879 bandwidth=100 rsrp=-31 rsrq=20 sinr=-23"},
        // Quectel's 5G variations: the EN-DC NR line with 6 or 11 values, no blank after
        // its tag, an NR SINR in tenths; an MCC without its zeros; carrier lines joined.
        {"Quectel NR leg of 11 values",
         {{"AT+QENG=\"servingcell\"",
           "\r\n+QENG:\"NR5G-NSA\",515,03,832,-76,21,-11,528030,41,8,1" + ok}},
         "technology=nr5g-nsa nr.band=41 nr.channel=528030 nr.pci=832 nr.bandwidth=60 nr.rsrp=-76 "
         "nr.rsrq=-11 nr.sinr=21"},
        {"Quectel NR leg of 6 values, SINR in tenths",
         {{"AT+QENG=\"servingcell\"", "\r\n+QENG: \"NR5G-NSA\",515,03,832,-76,215,-11" + ok}},
         "technology=nr5g-nsa nr.pci=832 nr.rsrp=-76 nr.rsrq=-11 nr.sinr=21.5"},
        {"Quectel SA, blanks in fields, SINR in tenths, MCC without its zeros",
         {{"AT+QENG=\"servingcell\"",
           "\r\n+QENG: \"servingcell\",\"LIMSRV\",\"NR5G-SA\",\"TDD\", 1,01,9013B004,299,690E0F,"
           "633984,78,12,-107,-13,153,1,-" +
               ok}},
         "mcc=001 mnc=01 technology=nr5g-sa band=78 channel=633984 pci=299 cell=2417209348 "
         "tac=6884879 bandwidth=100 rsrp=-107 rsrq=-13 sinr=15.3"},
        {"Quectel carriers without a line break",
         {{"AT+QCAINFO",
           "\r\n+QCAINFO: \"SCC\",1300,75,\"LTE BAND 3\",1,33,-98,-12,-70,8,0,-,-+QCAINFO: "
           "\"SCC\",3100,100,\"LTE BAND 7\",2,44,-99,-13,-71,9" +
               ok}},
         "1.lte.band=3 1.lte.channel=1300 1.lte.pci=33 1.lte.bandwidth=15 1.lte.rsrp=-98 "
         "1.lte.rsrq=-12 1.lte.rssi=-70 1.lte.sinr=8 2.lte.band=7 2.lte.channel=3100 2.lte.pci=44 "
         "2.lte.bandwidth=20 2.lte.rsrp=-99 2.lte.rsrq=-13 2.lte.rssi=-71 2.lte.sinr=9"},
        // SIMCom: each form; LTE tenths by the RSRP's value, positive WCDMA magnitudes,
        // NR tenths, the EN-DC leg by its shape, no service.
        {"SIMCom WCDMA",
         {{"AT+CPSI?",
           "\r\n+CPSI: WCDMA,Online,460-01,0Xa809,11122855,WCDMA IMT "
           "2000,279,10663,0,1.5,62,33,52,500" +
               ok}},
         "mcc=460 mnc=01 technology=umts channel=10663 pci=279 cell=11122855 tac=43017 rscp=-62 "
         "ecio=-1.5"},
        {"SIMCom LTE in tenths",
         {{"AT+CPSI?",
           "\r\n+CPSI: "
           "LTE,Online,460-11,0x775C,117004595,399,EUTRAN-BAND3,1650,5,5,-98,-892,-591,12" +
               ok}},
         "mcc=460 mnc=11 technology=lte band=3 channel=1650 pci=399 cell=117004595 tac=30556 "
         "bandwidth=20 rssi=-59.1 rsrp=-89.2 rsrq=-9.8 sinr=12"},
        {"SIMCom LTE whole, limited",
         {{"AT+CPSI?",
           "\r\n+CPSI: "
           "LTE-LIMITED,Online,262-01,0x3039,27447297,123,EUTRAN-BAND20,6300,3,3,-11,-95,"
           "-65,8" +
               ok}},
         "mcc=262 mnc=01 technology=lte band=20 channel=6300 pci=123 cell=27447297 tac=12345 "
         "bandwidth=10 rssi=-65 rsrp=-95 rsrq=-11 sinr=8"},
        {"SIMCom NR standalone in tenths",
         {{"AT+CPSI?",
           "\r\n+CPSI: "
           "NR5G_SA,Online,460-00,0x6F4A,4881244161,273,NR5G_BAND78,627264,-520,-110,40" +
               ok}},
         "mcc=460 mnc=00 technology=nr5g-sa band=78 channel=627264 pci=273 cell=4881244161 "
         "tac=28490 rsrp=-52 rsrq=-11 sinr=4"},
        {"SIMCom EN-DC",
         {{"AT+CPSI?",
           "\r\n+CPSI: "
           "LTE,Online,262-01,0x3039,27447297,123,EUTRAN-BAND3,1300,5,5,-11,-95,-65,8\r\n"
           "+CPSI: NR5G,644,627264,-11,-86,153" +
               ok}},
         "mcc=262 mnc=01 technology=nr5g-nsa band=3 channel=1300 pci=123 cell=27447297 tac=12345 "
         "bandwidth=20 rssi=-65 rsrp=-95 rsrq=-11 sinr=8 nr.channel=627264 nr.pci=644 nr.rsrp=-86 "
         "nr.rsrq=-11 nr.sinr=15.3"},
        {"SIMCom GSM",
         {{"AT+CPSI?",
           "\r\n+CPSI: GSM,Online,460-00,0x182d,12401,27 EGSM 900,-64,2110,42-42" + ok}},
         "mcc=460 mnc=00 technology=gsm channel=27 cell=12401 tac=6189 rssi=-64"},
        {"SIMCom no service",
         {{"AT+CPSI?", "\r\n+CPSI: NO SERVICE, Online" + ok},
          {"AT+CPMUTEMP", "\r\n+CPMUTEMP: 29" + ok}},
         "temperature=29"},
        // Sierra: read by labels in TABs, blanks or one joined line; TAC in hex with its
        // decimal echo, or decimal in the table; carriers; NR.
        {"Sierra LTE",
         {{"AT!GSTATUS?",
           "\r\n!GSTATUS: \r\nCurrent Time:  1373\t\tTemperature: 53\r\nReset Counter: 3\t\tMode:  "
           "  "
           "    ONLINE         \r\nSystem mode:   LTE        \tPS state:    Attached     \r\nLTE "
           "band:  "
           "    B8     \t\tLTE bw:      5 MHz   \r\nLTE Rx chan:   3764\t\tLTE Tx chan: "
           "21764\r\nLTE "
           "CA state:  NOT ASSIGNED\r\nEMM state:     Registered     \tNormal Service \r\nRRC "
           "state:  "
           "   RRC Idle       \r\nIMS reg state: No Srv  \t\t\r\n\r\nPCC RxM RSSI:  -84\t\tRSRP "
           "(dBm):  "
           "-110\r\nPCC RxD RSSI:  -85\t\tRSRP (dBm):  -118\r\nTx Power:      --\t\tTAC:         "
           "E2EA "
           "(58090)\r\nRSRQ (dB):     -12.7\t\tCell ID:     02C3484A (46352458)\r\nSINR (dB):      "
           "1.0" +
               ok}},
         "technology=lte band=8 channel=3764 cell=46352458 tac=58090 bandwidth=5 rssi=-84 "
         "rsrp=-110 "
         "rsrq=-12.7 sinr=1 temperature=53"},
        {"Sierra LTE table",
         {{"AT!LTEINFO?",
           "\r\n!LTEINFO: \r\nServing:   EARFCN MCC MNC   TAC      CID Bd D U SNR PCI  RSRQ   RSRP "
           "  "
           "RSSI RXLV\r\n             2000 310 410 35614 0A1FC518  4 3 3  -3 269 -12.6 -100.7  "
           "-68.6 "
           "--\r\nIntraFreq:                                          PCI  RSRQ   RSRP   RSSI "
           "RXLV\r\n                                                    269 -12.6 -100.7  -68.6 "
           "--" +
               ok}},
         "mcc=310 mnc=410 band=4 channel=2000 pci=269 cell=169854232 tac=35614 bandwidth=10 "
         "rssi=-68.6 rsrp=-100.7 rsrq=-12.6 sinr=-3"},
        {"Sierra carriers on one line",
         {{"AT!GSTATUS?",
           "\r\n!GSTATUS: Temperature: 41 System mode: LTE LTE band: B3 LTE bw: 20 MHz LTE Rx "
           "chan: "
           "1300 LTE SSC1 state:ACTIVE LTE SSC1 band:B7 LTE SSC1 bw  : 20 MHz LTE SSC1 chan: 3100 "
           "LTE "
           "SSC2 state:NOT ASSIGNED PCC RxM RSSI: -60 RSRP (dBm): -90 PCC RxD RSSI: -58 RSRP "
           "(dBm): "
           "-92 TAC: 3039 (12345) Cell ID: 01A2D001 (27447297) RSRQ (dB): -10.5 SINR (dB): 12.4" +
               ok}},
         "technology=lte band=3 channel=1300 cell=27447297 tac=12345 bandwidth=20 rssi=-58 "
         "rsrp=-90 "
         "rsrq=-10.5 sinr=12.4 1.lte.band=7 1.lte.channel=3100 1.lte.bandwidth=20 temperature=41"},
        {"Sierra NR standalone",
         {{"AT!GSTATUS?",
           "\r\n!GSTATUS:\r\nTemperature: 45\r\nSystem mode: NR5G\r\nNR5G band: n78\tNR5G dl bw: "
           "100 "
           "MHz\r\nNR5G Rx chan: 627264\r\nNR5G TAC: 6F4A\tNR5G Cell ID: 122F1E001 "
           "(4881244161)\r\nNR5G RSRP (dBm): -85.5\tNR5G RSRQ (dB): -11.0\r\nNR5G SINR (dB): "
           "18.5\r\nNR5G(sub6) Rx0 RSSI (dBm): -60.1\tNR5G(sub6) Rx1 RSSI (dBm): -58.7" +
               ok}},
         "technology=nr5g-sa band=78 channel=627264 cell=4881244161 tac=28490 bandwidth=100 "
         "rssi=-58.7 rsrp=-85.5 rsrq=-11 sinr=18.5 temperature=45"},
        {"Sierra NR leg",
         {{"AT!NRINFO?",
           "\r\n!NRINFO: \r\nConnectivity Mode: NSA\r\nNR5G band: n78 NR5G dl bw: 100 MHz NR5G Rx "
           "chan: 632448 NR5G RSRP (dBm): -88 NR5G RSRQ (dB): -11 NR5G SINR (dB): 15" +
               ok}},
         "technology=nr5g-nsa nr.band=78 nr.channel=632448 nr.bandwidth=100 nr.rsrp=-88 "
         "nr.rsrq=-11 "
         "nr.sinr=15"},
        // Fibocom: the FM350's form, the FM150's hex fields, EN-DC, a one-digit NR band
        // code, an index of 255, thousandths of a degree.
        {"Fibocom LTE with carriers",
         {{"AT+GTCCINFO?",
           "\r\n+GTCCINFO:\r\n1,4,001,01,ABCD,00ABCDEF0,1850,123,103,100,4,44,44,14\r\n2,4,,,FFFF,"
           "00FFFFFFF,1850,130,,42,42,10" +
               ok},
          {"AT+GTCAINFO?",
           "\r\n+GTCAINFO:\r\nPCC:103,123,1850,100,100,2,1,1,3,-96\r\nSCC "
           "1:2,1,107,137,3025,75,50,1,1,2,3,-96\r\nSCC "
           "2:2,0,101,144,525,75,255,2,255,1,255,-96\r\nSCC "
           "3:2,0,120,151,6400,50,255,1,255,2,255,-96" +
               ok}},
         "mcc=001 mnc=01 technology=lte band=3 channel=1850 pci=123 cell=180150000 tac=43981 "
         "bandwidth=20 rsrp=-96 rsrq=-13 sinr=2 1.lte.band=7 1.lte.channel=3025 1.lte.pci=137 "
         "1.lte.bandwidth=15 2.lte.band=1 2.lte.channel=525 2.lte.pci=144 2.lte.bandwidth=15 "
         "3.lte.band=20 3.lte.channel=6400 3.lte.pci=151 3.lte.bandwidth=10"},
        {"Fibocom hex form",
         {{"FM150 AT+GTCCINFO?",
           "\r\n+GTCCINFO: \r\nLTE service "
           "cell:\r\n1,4,262,1,3039,01A2D001,73A,7B,103,100,20,50,50,255" +
               ok}},
         "mcc=262 mnc=01 technology=lte band=3 channel=1850 pci=123 cell=27447297 tac=12345 "
         "bandwidth=20 rsrp=-91 sinr=10"},
        {"Fibocom EN-DC",
         {{"AT+GTCCINFO?",
           "\r\n+GTCCINFO:\r\n1,4,262,01,3039,01A2D001,300,214,101,100,28,49,49,20\r\n\r\n1,9,,,,,"
           "632448,557,5078,500,17,56,56,60" +
               ok},
          {"AT+GTCAINFO?",
           "\r\n+GTCAINFO:\r\nPCC:5078,557,632448,500,100,2,1,1,3,-88\r\nSCC "
           "1:2,0,501,33,427000,100,"
           "255,1,255,2,255,-88\r\nPCC:101,214,300,100,100,2,1,1,3,-92" +
               ok},
          {"AT+GTSENRDTEMP=1", "\r\n+GTSENRDTEMP: 1,35839\r\n+GTSENRDTEMP: 17,0" + ok}},
         "mcc=262 mnc=01 technology=nr5g-nsa band=1 channel=300 pci=214 cell=27447297 tac=12345 "
         "bandwidth=20 rsrp=-92 rsrq=-10 sinr=14 nr.band=78 nr.channel=632448 nr.pci=557 "
         "nr.bandwidth=100 nr.rsrp=-88 nr.rsrq=-13.5 nr.sinr=17 1.nr.band=1 1.nr.channel=427000 "
         "1.nr.pci=33 1.nr.bandwidth=20 temperature=35.8"},
        // Cinterion: each form, decimals, and a search.
        {"Cinterion LTE",
         {{"AT^SMONI",
           "\r\n^SMONI: 4G,6300,20,10,10,FDD,262,02,BF75,0345103,350,33,-94.5,-7.5,NOCONN" + ok}},
         "mcc=262 mnc=02 technology=lte band=20 channel=6300 pci=350 cell=3428611 tac=49013 "
         "bandwidth=10 rsrp=-94.5 rsrq=-7.5"},
        {"Cinterion UMTS",
         {{"AT^SMONI", "\r\n^SMONI: 3G,10564,296,-7.5,-93,262,02,0000,00C4,22,49,NOCONN" + ok}},
         "mcc=262 mnc=02 technology=umts channel=10564 pci=296 cell=196 tac=0 rscp=-93 ecio=-7.5"},
        {"Cinterion GSM",
         {{"AT^SMONI", "\r\n^SMONI: 2G,71,-61,262,02,0143,83BA,33,33,3,6,G,NOCONN" + ok}},
         "mcc=262 mnc=02 technology=gsm channel=71 cell=33722 tac=323 rssi=-61"},
        {"Cinterion searching", {{"AT^SMONI", "\r\n^SMONI: 4G,SEARCH" + ok}}, ""},
        // Intel: +XCESQ's scales and its SINR; +XMCI's serving cell in quoted hex, its band
        // from the EARFCN, a neighbour passed over.
        {"Intel",
         {{"AT+XCESQ?", "\r\n+XCESQ: 0,99,99,255,255,24,52,20" + ok},
          {"AT+XMCI=1",
           "\r\n+XMCI: 5,262,03,\"0xFFFE\",\"0xFFFFFFFF\",\"0x0102\",\"0x000004B0\",\"0xFFFFFFFF\","
           "\"0xFFFFFFFF\",40,18,255\r\n+XMCI: 4,262,03,\"0x5A3C\",\"0x01C3A20F\",\"0x01F5\","
           "\"0x000004B0\",\"0x000049D0\",\"0x00000050\",52,24,20" +
               ok}},
         "mcc=262 mnc=03 technology=lte band=3 channel=1200 pci=501 cell=29598223 tac=23100 "
         "rsrp=-89 rsrq=-8 sinr=10"},
        {"Intel markers",
         {{"AT+XMCI=1",
           "\r\n+XMCI: "
           "4,262,03,\"0xFFFE\",\"0xFFFFFFFF\",\"0x01F5\",\"0x7FFFFFFF\",\"0x0\",\"0x0\","
           "255,255,255" +
               ok}},
         "mcc=262 mnc=03 technology=lte pci=501"},
    };
    for (const reply_case& c : cases) {
        status_record record{};
        status_clear(record);
        for (const auto& [command, reply] : c.replies) {
            reader_of(command)(record, reply.data(), reply.size());
        }
        status_finish(record);
        EXPECT_EQ(known(record), c.fields) << c.what;
    }
}

TEST(StatusDecode, ProfilesFollowTheMakerFirstThenTheUsbVendor) {
    const struct {
        const char* manufacturer;
        const char* model;
        uint32_t id;
        status_profile profile;
    } cases[] = {
        {"Quectel", "", 0, status_profile::quectel},
        {"HUAWEI", "", 0, status_profile::huawei},
        {"Telit", "", 0x2c7c0125, status_profile::telit},  // an ACM probe's ID, whoever is behind
        {"Thales DIS AIS Deutschland GmbH", "", 0, status_profile::cinterion},
        {"SIMCOM INCORPORATED", "", 0, status_profile::simcom},
        {"Sierra Wireless, Incorporated", "", 0x413c81b6, status_profile::sierra},
        {"Fibocom Wireless Inc.", "L860-GL", 0x2cb70007, status_profile::intel},
        {"Fibocom Wireless Inc.", "fm350-gl", 0, status_profile::fibocom_mediatek},
        {"Fibocom Wireless Inc.", "FM150-AE", 0x2cb70104, status_profile::fibocom_qualcomm},
        {"", "", 0x0e8d7127, status_profile::fibocom_mediatek},
        {"", "", 0x2c7c0125, status_profile::quectel},
        {"", "", 0x12d11506, status_profile::huawei},
        {"", "", 0x1e0e9001, status_profile::simcom},
        {"", "", 0x11999091, status_profile::sierra},
        {"", "", 0x413c81d7, status_profile::standard},  // Dell brands several makers' modules
        {"Acme", "", 0x12345678, status_profile::standard},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(status_profile_of(c.manufacturer, c.model, c.id), c.profile) << c.manufacturer;
    }
}

TEST(StatusDecode, LteBandsFollowFromTheDownlinkChannel) {
    const std::pair<int64_t, int64_t> cases[] = {
        {0, 1},
        {599, 1},
        {1200, 3},
        {1949, 3},
        {2750, 7},
        {6150, 20},
        {9210, 28},
        {66436, 66},
        {67335, 66},
        {5000, status_unknown},
        {-1, status_unknown},
        {70700, status_unknown},
    };
    for (const auto& [earfcn, band] : cases) EXPECT_EQ(status_lte_band(earfcn), band) << earfcn;
}

}  // namespace
