#include "support/simulated_modem.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "support/sandbox.h"
#include "support/tool_run.h"

simulated_modem::simulated_modem(const std::vector<std::string>& options, const std::string& port) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    const std::vector<std::string> command = emulated_command(MDMIO_SIMMODEM, options);
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], STDOUT_FILENO);
        const int quiet = open("/dev/null", O_WRONLY);
        if (quiet >= 0) dup2(quiet, STDERR_FILENO);
        std::vector<char*> argv;
        for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    // Its first line names its line.
    std::string line;
    pollfd end{out[0], POLLIN, 0};
    char c = 0;
    while (pid_ > 0 && poll(&end, 1, 20000) > 0 && read(out[0], &c, 1) == 1 && c != '\n') line += c;
    close(out[0]);
    if (line.empty()) return;
    sandbox_attach_line(port, line);
    line_ = line;
}

simulated_modem::~simulated_modem() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
}

// Worked out from the replies of each profile by the conversions of the status reference
// (cell ids, areas and channels from hex, each maker's scales), by hand.
const simulated_status simulated_statuses[14] =
    {
        {"ec25",
         R"({"manufacturer":"Quectel","model":"EC25","revision":"EC25EFAR06A06M4G","imei":"867698041234567","sim":"ready","imsi":"262021234567890","iccid":"89490200001234567890","operator":"Vodafone.de","mcc":"262","mnc":"02","registration":"home","technology":"lte","band":3,"channel":1300,"pci":123,"cell":27447297,"tac":12345,"bandwidth_mhz":20,"rssi_dbm":-65,"rsrp_dbm":-95,"rsrq_db":-11,"sinr_db":10,"rscp_dbm":null,"ecio_db":null,"nr":null,"carriers":[],"carriers_left_out":null,"temperature_c":38})"},
        {"rm520-endc",
         R"({"manufacturer":"Quectel","model":"RM520N-GL","revision":"RM520NGLAAR03A03M4G","imei":"869710030123456","sim":"ready","imsi":"262011234567890","iccid":"89490200001234567890","operator":"Telekom.de","mcc":"262","mnc":"01","registration":"home","technology":"nr5g-nsa","band":1,"channel":300,"pci":214,"cell":27447307,"tac":12345,"bandwidth_mhz":20,"rssi_dbm":-62,"rsrp_dbm":-92,"rsrq_db":-10,"sinr_db":14,"rscp_dbm":null,"ecio_db":null,"nr":{"band":78,"channel":632448,"pci":557,"bandwidth_mhz":100,"rsrp_dbm":-85,"rsrq_db":-11,"sinr_db":17},"carriers":[{"technology":"lte","band":3,"channel":1300,"pci":33,"bandwidth_mhz":15,"rsrp_dbm":-98,"rsrq_db":-12,"rssi_dbm":-70,"sinr_db":8},{"technology":"nr","band":78,"channel":632448,"pci":557,"bandwidth_mhz":100,"rsrp_dbm":null,"rsrq_db":null,"rssi_dbm":null,"sinr_db":null}],"carriers_left_out":null,"temperature_c":41})"},
        {"rm520-sa",
         R"({"manufacturer":"Quectel","model":"RM520N-GL","revision":"RM520NGLAAR03A03M4G","imei":"869710030123456","sim":"ready","imsi":"460011234567890","iccid":"89490200001234567890","operator":"CHINA MOBILE","mcc":"460","mnc":"01","registration":"home","technology":"nr5g-sa","band":78,"channel":633984,"pci":299,"cell":2417209348,"tac":6884879,"bandwidth_mhz":100,"rssi_dbm":null,"rsrp_dbm":-107,"rsrq_db":-13,"sinr_db":2,"rscp_dbm":null,"ecio_db":null,"nr":null,"carriers":[],"carriers_left_out":null,"temperature_c":42})"},
        {"huawei",
         R"({"manufacturer":"Huawei Technologies Co., Ltd.","model":"ME909s-120","revision":"11.617.01.00.00","imei":"866123034567890","sim":"ready","imsi":"460011234567890","iccid":"89490200001234567890","operator":"CHINA MOBILE","mcc":"460","mnc":"01","registration":"home","technology":"lte","band":3,"channel":1650,"pci":499,"cell":10864947,"tac":6205,"bandwidth_mhz":null,"rssi_dbm":-72,"rsrp_dbm":-98,"rsrq_db":-5,"sinr_db":10,"rscp_dbm":null,"ecio_db":null,"nr":null,"carriers":[],"carriers_left_out":null,"temperature_c":null})"},
        {"telit",
         R"({"manufacturer":"Telit","model":"LM960A18","revision":"32.00.116","imei":"351234567890123","sim":"ready","imsi":"311480123456789","iccid":"89490200001234567890","operator":"Verizon","mcc":"311","mnc":"480","registration":"home","technology":"lte","band":66,"channel":66536,"pci":null,"cell":3392534,"tac":3328,"bandwidth_mhz":null,"rssi_dbm":-68,"rsrp_dbm":-103,"rsrq_db":-15,"sinr_db":null,"rscp_dbm":null,"ecio_db":null,"nr":null,"carriers":[],"carriers_left_out":null,"temperature_c":null})"},
        {"cinterion",
         R"({"manufacturer":"Cinterion","model":"PLS8-E","revision":"REVISION 03.017","imei":"004401080123456","sim":"ready","imsi":"262021234567890","iccid":"89490200001234567890","operator":"Vodafone.de","mcc":"262","mnc":"02","registration":"roaming","technology":"lte","band":20,"channel":6300,"pci":350,"cell":3428611,"tac":49013,"bandwidth_mhz":10,"rssi_dbm":-77,"rsrp_dbm":-94.5,"rsrq_db":-7.5,"sinr_db":null,"rscp_dbm":null,"ecio_db":null,"nr":null,"carriers":[],"carriers_left_out":null,"temperature_c":null})"},
        {"xmm",
         R"({"manufacturer":"Fibocom Wireless Inc.","model":"L850-GL","revision":"18500.5001.00.01.27.30","imei":"015123004567890","sim":"ready","imsi":"262031234567890","iccid":"89490200001234567890","operator":"o2 - de","mcc":"262","mnc":"03","registration":"home","technology":"lte","band":3,"channel":1200,"pci":501,"cell":29598223,"tac":23100,"bandwidth_mhz":null,"rssi_dbm":-67,"rsrp_dbm":-89,"rsrq_db":-8,"sinr_db":10,"rscp_dbm":null,"ecio_db":null,"nr":null,"carriers":[],"carriers_left_out":null,"temperature_c":null})"},
        {"3gpp",
         R"({"manufacturer":"Acme Wireless","model":"AW-100","revision":"1.0.7","imei":"356789012345678","sim":"ready","imsi":"234150123456789","iccid":"89490200001234567890","operator":"vodafone UK","mcc":null,"mnc":null,"registration":"home","technology":"lte","band":null,"channel":null,"pci":null,"cell":27447297,"tac":12345,"bandwidth_mhz":null,"rssi_dbm":-75,"rsrp_dbm":-100,"rsrq_db":-11,"sinr_db":null,"rscp_dbm":null,"ecio_db":null,"nr":null,"carriers":[],"carriers_left_out":null,"temperature_c":null})"},
        {"sim7600",
         R"({"manufacturer":"SIMCOM INCORPORATED","model":"SIMCOM_SIM7600G-H","revision":"LE20B04SIM7600G22","imei":"862636052345678","sim":"ready","imsi":"460111234567890","iccid":"89490200001234567890","operator":"CHN-CT","mcc":"460","mnc":"11","registration":"home","technology":"lte","band":3,"channel":1650,"pci":399,"cell":117004595,"tac":30556,"bandwidth_mhz":20,"rssi_dbm":-59.1,"rsrp_dbm":-89.2,"rsrq_db":-9.8,"sinr_db":12,"rscp_dbm":null,"ecio_db":null,"nr":null,"carriers":[],"carriers_left_out":null,"temperature_c":38})"},
        {"sim8200-sa",
         R"({"manufacturer":"SIMCOM INCORPORATED","model":"SIMCOM_SIM8200EA-M2","revision":"SIM8200M_V1.2","imei":"862636053456789","sim":"ready","imsi":"460001234567890","iccid":"89490200001234567890","operator":"CHINA MOBILE","mcc":"460","mnc":"00","registration":"home","technology":"nr5g-sa","band":78,"channel":627264,"pci":273,"cell":4881244161,"tac":28490,"bandwidth_mhz":null,"rssi_dbm":null,"rsrp_dbm":-52,"rsrq_db":-11,"sinr_db":4,"rscp_dbm":null,"ecio_db":null,"nr":null,"carriers":[],"carriers_left_out":null,"temperature_c":44})"},
        {"em7565",
         R"({"manufacturer":"Sierra Wireless, Incorporated","model":"EM7565","revision":"SWI9X50C_01.14.02.00","imei":"353533100123456","sim":"ready","imsi":"310410123456789","iccid":"89490200001234567890","operator":"AT&T","mcc":"310","mnc":"410","registration":"home","technology":"lte","band":2,"channel":1100,"pci":269,"cell":169854232,"tac":35599,"bandwidth_mhz":20,"rssi_dbm":-61.7,"rsrp_dbm":-90.8,"rsrq_db":-10.6,"sinr_db":14.2,"rscp_dbm":null,"ecio_db":null,"nr":null,"carriers":[{"technology":"lte","band":66,"channel":66786,"pci":null,"bandwidth_mhz":20,"rsrp_dbm":-94,"rsrq_db":null,"rssi_dbm":-64,"sinr_db":null},{"technology":"lte","band":12,"channel":5110,"pci":null,"bandwidth_mhz":10,"rsrp_dbm":null,"rsrq_db":null,"rssi_dbm":null,"sinr_db":null}],"carriers_left_out":null,"temperature_c":42})"},
        {"em919x",
         R"({"manufacturer":"Sierra Wireless, Incorporated","model":"EM9191","revision":"SWIX55C_03.09.06.00","imei":"353533109876543","sim":"ready","imsi":"310260123456789","iccid":"89490200001234567890","operator":"T-Mobile","mcc":null,"mnc":null,"registration":"home","technology":"nr5g-sa","band":41,"channel":520110,"pci":null,"cell":11302847701,"tac":40000,"bandwidth_mhz":100,"rssi_dbm":-61,"rsrp_dbm":-87.5,"rsrq_db":-11,"sinr_db":17,"rscp_dbm":null,"ecio_db":null,"nr":null,"carriers":[],"carriers_left_out":null,"temperature_c":47})"},
        {"fm350-endc",
         R"({"manufacturer":"Fibocom Wireless Inc.","model":"FM350-GL","revision":"81600.0000.00.29.23.03","imei":"869876050123456","sim":"ready","imsi":"262011234567890","iccid":"89490200001234567890","operator":"Telekom.de","mcc":"262","mnc":"01","registration":"home","technology":"nr5g-nsa","band":1,"channel":300,"pci":214,"cell":27447307,"tac":12345,"bandwidth_mhz":20,"rssi_dbm":-61,"rsrp_dbm":-90,"rsrq_db":-10,"sinr_db":14,"rscp_dbm":null,"ecio_db":null,"nr":{"band":78,"channel":632448,"pci":557,"bandwidth_mhz":100,"rsrp_dbm":-84,"rsrq_db":-13.5,"sinr_db":17},"carriers":[{"technology":"lte","band":3,"channel":1300,"pci":33,"bandwidth_mhz":15,"rsrp_dbm":null,"rsrq_db":null,"rssi_dbm":null,"sinr_db":null},{"technology":"lte","band":20,"channel":6300,"pci":151,"bandwidth_mhz":10,"rsrp_dbm":null,"rsrq_db":null,"rssi_dbm":null,"sinr_db":null}],"carriers_left_out":null,"temperature_c":39.5})"},
        {"fm150",
         R"({"manufacturer":"Fibocom Wireless Inc.","model":"FM150-AE","revision":"19500.0000.00.01.01.10","imei":"864280041234567","sim":"ready","imsi":"234150123456789","iccid":"89490200001234567890","operator":null,"mcc":"234","mnc":"15","registration":"home","technology":"lte","band":3,"channel":1850,"pci":123,"cell":27447297,"tac":20000,"bandwidth_mhz":20,"rssi_dbm":-73,"rsrp_dbm":-91,"rsrq_db":-9,"sinr_db":10,"rscp_dbm":null,"ecio_db":null,"nr":null,"carriers":[],"carriers_left_out":null,"temperature_c":41.3})"},
};
