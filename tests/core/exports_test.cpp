// The shared library exports exactly its public names, all under one
// version node, and carries the right SONAME.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>

namespace {

std::string run(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, n);
        pclose(pipe);
    }
    return output;
}

const std::set<std::string> kExpected = {
    "ZuWexoInit", "ZuWexoEnd", "ZuWexoGetLastError", "ZuWexoGetLastErrorMessage",
    "ZuWexoGetDllVersion", "ZuWexoSetLogLevel", "ZuWexoSetAutoRequestIdModel",
    "ZuWexoGetIpAddress", "ZuWexoGetMacAddress", "ZuWexoGetFirmVersion", "ZuWexoGetFirmType",
    "ZuWexoGetFirmType2", "ZuWexoGetId", "ZuWexoGetModel", "ZuWexoGetCPMode",
    "ZuWexoGetSerialParameter", "ZuWexoSetTimeOut", "ZuWexoSetModel", "ZuWexoSearch",
    "ZuWexoConnect", "ZuWexoConnectByIdModel", "ZuWexoConnectByIpAddress",
    "ZuWexoConnectByMacAddress", "ZuWexoConnectOverIPMasquerade", "ZuWexoConnectDirect",
    "ZuWexoConnectDirect2", "ZuWexoClose", "ZuWexoSelectNetworkDevice", "ZuWexoRequestIdModel",
    "ZuWexoSendSerialData", "ZuWexoReceiveSerialData", "ZuWexoInCP", "ZuWexoOutCP",
    "ZuWexoInPio", "ZuWexoInPioAll", "ZuWexoOutPio", "ZuWexoOutPioAll", "ZuWexoGetOut",
    "ZuWexoGetOutAll", "ZuWexoSetAutoSwitchingActive", "ZuWexoGetAutoSwitchingActive",
    "ZuWexoSetAutoSwitchingPio", "ZuWexoGetAutoSwitchingPio", "ZuWexoSetAutoSwitchingTime",
    "ZuWexoGetAutoSwitchingTime", "ZuWexoSetAutoSwitchingChannel",
    "ZuWexoGetAutoSwitchingChannel",
    "ZuWexoGetAnalogInput", "ZuWexoGetAnalogInputAll", "ZuWexoGetAnalogInputByValue",
    "ZuWexoGetAnalogInputRange", "ZuWexoSetAnalogInputRange", "ZuWexoSetAnalogInputADCsps",
    "ZuWexoGetAiTransmitCycle", "ZuWexoSetAiTransmitCycle", "ZuWexoSetAnalogOutput",
    "ZuWexoSetAnalogOutputMulti", "ZuWexoSetAnalogOutputVoltage", "ZuWexoSetAnalogOutputCurrent",
    "ZuWexoSetInitialAnalogOutput", "ZuWexoSetInitialAnalogOutputVoltage",
    "ZuWexoSetInitialAnalogOutputCurrent", "ZuWexoGetAnalogOutput", "ZuWexoGetAnalogOutputByValue",
    "ZuWexoSetTCConfig", "ZuWexoSetTCType", "ZuWexoGetTCConfig", "ZuWexoSetTCTransmitScale",
    "ZuWexoGetTCTransmitScale", "ZuWexoGetAnalogThresholds", "ZuWexoSetAnalogThresholds",
    "ZuWexoGetAiMailCondition", "ZuWexoSetAiMailCondition",
    "setPICparameter", "getPICparameter", "getPICparameter2", "setPICparameter2",
    "ZuWexoPulseModeSetConfig", "ZuWexoPulseModeSetConfig2", "ZuWexoPulseModeSetConfigChannel", "ZuWexoPulseModeGetConfig",
    "ZuWexoPulseModeGetConfig2", "ZuWexoPulseModeGetConfigChannel", "ZuWexoPulseModeGetCount", "ZuWexoPulseModeGetCount2",
    "ZuWexoPulseModeGetState", "ZuWexoPulseModeOn", "ZuWexoPulseModeOff", "ZuWexoPulseModeContinuesOn",
    "ZuWexoPulseModeContinuesOff", "ZuWexoPulseModeContinuesGetState", "ZuWexoPulseModeSetAlart", "ZuWexoPulseModeGetAlart",
    "ZuWexoSetResetTime", "ZuWexoDOAlertStartStop", "ZuWexoSetDOAlertConfig", "ZuWexoGetDOAlertStatus",
    "ZuWexoReadEEPROM", "ZuWexoWriteEEPROM", "ZuWexoGetDisconnectionTime", "ZuWexoSetDisconnectionTime",
    "ZuWexoGetNoticeTime", "ZuWexoSetNoticeTime", "ZuWexoGetResendWaitTime", "ZuWexoSetResendWaitTime",
    "ZuWexoGetDiDetectTime", "ZuWexoSetDiDetectTime", "ZuWexoGetDiMailLogic", "ZuWexoSetDiMailLogic",
    "ZuWexoGetDiMailEnable", "ZuWexoSetDiMailEnable", "ZuWexoGetAnalogInputADCsps",
    "ZuWexoSetIpAddress", "ZuWexoFirstFoundSetIpAddress", "ZuWexoSetPerformance", "ZuWexoReset",
    "ZuWexoSetCPMode", "ZuWexoSetSerialParameter", "ZuWexoSetXPortDefault",
    "ZuWexoPicFirmwareUpdate", "ZuWexoPicFirmwareUpdateIntelHex", "wexo_check_intel_hex", "wexo_capabilities", "wexo_model_capabilities",
    "wexo_pic_firmware_update_hex", "wexo_strerror", "wexo_version",
    "xportset", "xportcount", "xportsearchcount", "initialized", "error", "output_loglevel",
    "auto_requestid", "auto_requestid_port", "g_lanaddr", "g_fSet_addr", "mutex", "logfile",
    "bps_value", "bps_decode", "MODEL_spec", "autoswitchtime",
};

TEST(SharedLibrary, ExportsExactlyThePublicNames) {
    std::istringstream table(run(std::string("nm -D --defined-only ") + WEXO_SHARED_LIBRARY));
    std::set<std::string> exported;
    for (std::string address, type, name; table >> address >> type >> name;) {
        if (type == "A") continue;  // the version node itself
        const auto at = name.find('@');
        ASSERT_NE(at, std::string::npos) << name << " has no version";
        EXPECT_EQ(name.substr(at), "@@WEXO_1.0") << name;
        exported.insert(name.substr(0, at));
    }
    EXPECT_EQ(exported, kExpected);
}

TEST(SharedLibrary, SonameAndFileName) {
    const std::string dynamic = run(std::string("readelf -d ") + WEXO_SHARED_LIBRARY);
    EXPECT_NE(dynamic.find("Library soname: [libWEXO.so.1]"), std::string::npos) << dynamic;
    EXPECT_STREQ(WEXO_SHARED_LIBRARY_SONAME, "libWEXO.so.1");
}

}  // namespace
