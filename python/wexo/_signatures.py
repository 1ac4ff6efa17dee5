"""Generated from src/exports.tsv by cmake/exports.cmake; do not edit.

The C signatures of the exported calls, read by _native: the name, how
the result tells failure, and one letter per parameter.
"""

SIGNATURES = """
ZuWexoInit                           ok
ZuWexoEnd                            ok
ZuWexoGetLastError                   value
ZuWexoGetLastErrorMessage            value  p
ZuWexoGetDllVersion                  value
ZuWexoSetLogLevel                    ok     u
ZuWexoSetAutoRequestIdModel          ok     i u
ZuWexoGetIpAddress                   ok     i p
ZuWexoGetMacAddress                  ok     i p
ZuWexoGetFirmVersion                 ok     i >i
ZuWexoGetFirmType                    ok     i >a
ZuWexoGetFirmType2                   ok     i >h
ZuWexoGetId                          ok     i >i
ZuWexoGetModel                       ok     i >i
ZuWexoGetCPMode                      ok     i >i >i >i >i
ZuWexoGetSerialParameter             ok     i >i >i >i >i >i >i
ZuWexoSetTimeOut                     ok     i i
ZuWexoSetModel                       ok     i i
ZuWexoSearch                         index  i
ZuWexoConnect                        index  i
ZuWexoConnectByIdModel               index  i i
ZuWexoConnectByIpAddress             index  s
ZuWexoConnectByMacAddress            index  y
ZuWexoConnectOverIPMasquerade        index  s i i i i
ZuWexoConnectDirect                  index  s i
ZuWexoConnectDirect2                 index  s i i
ZuWexoClose                          count  i
ZuWexoSelectNetworkDevice            ok     s
ZuWexoRequestIdModel                 ok     i >i >i
ZuWexoSendSerialData                 count  i y i
ZuWexoReceiveSerialData              count  i p i
ZuWexoInCP                           ok     i >i >i >i
ZuWexoOutCP                          ok     i i i i
ZuWexoInPio                          ok     i i >i
ZuWexoInPioAll                       ok     i >u
ZuWexoOutPio                         ok     i i i
ZuWexoOutPioAll                      ok     i u
ZuWexoGetOut                         ok     i i >i
ZuWexoGetOutAll                      ok     i >u
ZuWexoSetAutoSwitchingActive         ok     i i
ZuWexoGetAutoSwitchingActive         ok     i >i
ZuWexoSetAutoSwitchingPio            ok     i i
ZuWexoGetAutoSwitchingPio            ok     i >u
ZuWexoSetAutoSwitchingTime           ok     i i
ZuWexoGetAutoSwitchingTime           ok     i >i
ZuWexoSetAutoSwitchingChannel        ok     i i i i
ZuWexoGetAutoSwitchingChannel        ok     i i >u >u
ZuWexoGetAnalogInput                 ok     i i >i
ZuWexoGetAnalogInputAll              count  i i p
ZuWexoGetAnalogInputByValue          ok     i i >i >d
ZuWexoGetAnalogInputRange            ok     i i >i
ZuWexoSetAnalogInputRange            ok     i i i
ZuWexoSetAnalogInputADCsps           ok     i i
ZuWexoGetAiTransmitCycle             ok     i >i
ZuWexoSetAiTransmitCycle             ok     i i
ZuWexoSetAnalogOutput                ok     i i i i
ZuWexoSetAnalogOutputMulti           ok     i i p p p
ZuWexoSetAnalogOutputVoltage         ok     i i d
ZuWexoSetAnalogOutputCurrent         ok     i i d
ZuWexoSetInitialAnalogOutput         ok     i i i i
ZuWexoSetInitialAnalogOutputVoltage  ok     i i d
ZuWexoSetInitialAnalogOutputCurrent  ok     i i d
ZuWexoGetAnalogOutput                ok     i i >i >i
ZuWexoGetAnalogOutputByValue         ok     i i >i >d
ZuWexoSetTCConfig                    ok     i i i i i i
ZuWexoSetTCType                      ok     i i i
ZuWexoGetTCConfig                    ok     i i >i >i >i >i
ZuWexoSetTCTransmitScale             ok     i i i d d
ZuWexoGetTCTransmitScale             ok     i i >i >d >d
ZuWexoGetAnalogThresholds            ok     i i >i >i >i
ZuWexoSetAnalogThresholds            ok     i i i i i
ZuWexoGetAiMailCondition             ok     i i >i
ZuWexoSetAiMailCondition             ok     i i u
setPICparameter                      ok     i i i
getPICparameter                      ok     i i i >u
getPICparameter2                     ok     i y i p i
setPICparameter2                     ok     i y i
ZuWexoPulseModeSetConfig             ok     i i i i i
ZuWexoPulseModeSetConfig2            ok     i i i
ZuWexoPulseModeSetConfigChannel      ok     i i i i
ZuWexoPulseModeGetConfig             ok     i >i >i >i >i
ZuWexoPulseModeGetConfig2            ok     i >i >i
ZuWexoPulseModeGetConfigChannel      ok     i i >i >i
ZuWexoPulseModeGetCount              ok     i >i
ZuWexoPulseModeGetCount2             ok     i i >q
ZuWexoPulseModeGetState              ok     i >i
ZuWexoPulseModeOn                    ok     i
ZuWexoPulseModeOff                   ok     i
ZuWexoPulseModeContinuesOn           ok     i
ZuWexoPulseModeContinuesOff          ok     i
ZuWexoPulseModeContinuesGetState     ok     i >i
ZuWexoPulseModeSetAlart              ok     i i i q
ZuWexoPulseModeGetAlart              ok     i >i >i >q
ZuWexoSetResetTime                   ok     i i
ZuWexoDOAlertStartStop               ok     i i i
ZuWexoSetDOAlertConfig               ok     i i i i i
ZuWexoGetDOAlertStatus               ok     i i >i >i >i >i
ZuWexoReadEEPROM                     ok     i i i p
ZuWexoWriteEEPROM                    ok     i i i y
ZuWexoGetDisconnectionTime           ok     i >u
ZuWexoSetDisconnectionTime           ok     i i
ZuWexoGetNoticeTime                  ok     i >u
ZuWexoSetNoticeTime                  ok     i i
ZuWexoGetResendWaitTime              ok     i >u
ZuWexoSetResendWaitTime              ok     i i
ZuWexoGetDiDetectTime                ok     i >u
ZuWexoSetDiDetectTime                ok     i i
ZuWexoGetDiMailLogic                 ok     i >u
ZuWexoSetDiMailLogic                 ok     i i
ZuWexoGetDiMailEnable                ok     i >u
ZuWexoSetDiMailEnable                ok     i i
ZuWexoGetAnalogInputADCsps           ok     i >i
ZuWexoSetIpAddress                   ok     u u u u u u
ZuWexoFirstFoundSetIpAddress         ok     i u u u u
ZuWexoSetPerformance                 ok     i i
ZuWexoReset                          ok     i
ZuWexoSetCPMode                      ok     i i i i i
ZuWexoSetSerialParameter             ok     i i i i i i i
ZuWexoSetXPortDefault                ok     i
ZuWexoPicFirmwareUpdate              ok     i i y i
ZuWexoPicFirmwareUpdateIntelHex      ok     i s
wexo_add_unit                        index  s i
wexo_capabilities                    ok     i p
wexo_check_intel_hex                 value  s p
wexo_model_capabilities              ok     i i p
wexo_pic_firmware_update_hex         ok     i s f p
wexo_set_identity                    ok     i i i
wexo_strerror                        text   i
wexo_version                         text
"""
