// String ids the engine names (record code, run-time errors and questions);
// the texts live in the string table.
#pragma once

#include <cstdint>

namespace kv::sid {
inline constexpr uint32_t kUndefined = 5070;
inline constexpr uint32_t kObjectAtPosition = 6217;
inline constexpr uint32_t kInScript = 6218;
inline constexpr uint32_t kDefaultLabelName = 31470;
inline constexpr uint32_t kProjectStandbys = 5517;
inline constexpr uint32_t kNoDefaultViewer = 5737;
inline constexpr uint32_t kExecutionFailed = 6002;
inline constexpr uint32_t kInvalidResultType = 6009;
inline constexpr uint32_t kInvalidOperandType = 6010;
inline constexpr uint32_t kMissingVariable = 6012;
inline constexpr uint32_t kWrongVariableType = 6016;
inline constexpr uint32_t kTooManyNestedCalls = 7004;
inline constexpr uint32_t kVariablesNotResident = 7010;
inline constexpr uint32_t kRunTimeHalting = 7012;
inline constexpr uint32_t kThreadedUseProjectSubs = 7028;
inline constexpr uint32_t kUnableToLocateCursor = 7029;
inline constexpr uint32_t kPrintFailed = 7032;
inline constexpr uint32_t kPrintObjectNotOnStage = 7033;
inline constexpr uint32_t kObjectCrashed = 7034;
inline constexpr uint32_t kPreloadNonFreestyle = 7139;
inline constexpr uint32_t kNoSuchLabel = 8001;
inline constexpr uint32_t kMathException = 8003;
inline constexpr uint32_t kErrorReadingFile = 8015;
inline constexpr uint32_t kUnableToLocateObject = 8025;
inline constexpr uint32_t kThreadedJump = 8027;
inline constexpr uint32_t kHideAllWhileLoading = 8028;
inline constexpr uint32_t kScriptNameBlank = 8029;
inline constexpr uint32_t kInWord = 31476;
// Printing.
inline constexpr uint32_t kPrintingDocument = 5089;
inline constexpr uint32_t kPrintingUntitled = 5090;
inline constexpr uint32_t kProcessingPrintRequest = 5091;
inline constexpr uint32_t kPrintingToDevice = 5092;
inline constexpr uint32_t kFunctionNotImplemented = 51467;
// The Orlan binding's.
inline constexpr uint32_t kUnableToOpenFile = 6051;
inline constexpr uint32_t kUnknownFileType = 6053;
inline constexpr uint32_t kNotEnoughMemoryForRequest = 6056;
inline constexpr uint32_t kUnableToInitializeOrlan = 6800;
inline constexpr uint32_t kNoCompiledFile = 6806;
inline constexpr uint32_t kOrlanRuntimeError = 6807;
inline constexpr uint32_t kErrorCreatingScriptObject = 6808;
inline constexpr uint32_t kErrorCreatingThread = 6809;
inline constexpr uint32_t kKorvelExtensionError = 6810;
inline constexpr uint32_t kSubroutineMissing = 6815;
inline constexpr uint32_t kMustRunFromTopThread = 6824;
inline constexpr uint32_t kInternalProgramError = 7000;
inline constexpr uint32_t kOrlanError = 7005;
inline constexpr uint32_t kOrlanErrorFormat = 31477;
inline constexpr uint32_t kOlderScriptVersion = 41489;
// Extension libraries.
inline constexpr uint32_t kNotValidDll = 5792;
inline constexpr uint32_t kProcedureNotFound = 5793;
inline constexpr uint32_t kUnknownParameterType = 5795;
inline constexpr uint32_t kErrorReadingDll = 5796;
inline constexpr uint32_t kNoSuchVariable = 6004;
inline constexpr uint32_t kInvalidVariableType = 6008;
inline constexpr uint32_t kNotFound = 6011;
}  // namespace kv::sid
