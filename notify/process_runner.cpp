#include "notify/process_runner.h"

#include "app/app_state.h"
#include "app/guard.h"
#include "app/log.h"
#include "platform/last_error.h"
#include "platform/messagebox.h"

namespace {

std::int16_t ExecuteShell(const std::string& command_line, std::int32_t timeout_ms,
                          std::int16_t hide_window, const platform::CommandLine* program,
                          ProgramOutcome* outcome) {
  if (outcome != nullptr) *outcome = {};
  try {
    WriteLog("MSG : fncExecuteShell :: " + command_line);
    const int show = hide_window != kFalse ? platform::kShowHidden : platform::kShowNormal;
    const platform::ErrorOutput error_output = outcome != nullptr && timeout_ms > 0
                                                   ? platform::ErrorOutput::kKeepFirstLine
                                                   : platform::ErrorOutput::kDiscard;
    platform::StartedProgram started =
        program != nullptr ? platform::StartProgram(*program, show, error_output)
                           : platform::StartProcess(command_line, show, error_output);
    if (started.id() == 0) {
      WriteLog("ERR : Failed to Execute  " + command_line);
    } else {
      WriteLog("ERR : Successfully Executed, " + command_line);
    }
    if (timeout_ms <= 0) return kFalse;
    if (!started.watched()) {
      platform::ShowMessageBox(
          "Failed to call the Brim process, " +
              fncFormatMessage(static_cast<std::int32_t>(platform::LastErrorCode())),
          AppState.AppTitle, platform::kMbOk | platform::kMbIconStop);
      WriteLog("ERR : Failed to open the process, " + command_line + ", " +
               fncFormatMessage(static_cast<std::int32_t>(platform::LastErrorCode())));
      return kFalse;
    }
    if (started.HasEnded()) {
      if (outcome != nullptr) outcome->error_line = started.ErrorLine();
      return kTrue;
    }
    started.Wait(static_cast<std::uint32_t>(timeout_ms));
    // Whether the program still ran at the end of the wait is what tells a
    // program killed at its time-out from one that finished.
    const bool running_at_time_out = !started.HasEnded();
    std::string reason;
    fncTerminateProcess(started, reason);
    if (outcome != nullptr) {
      outcome->killed = running_at_time_out;
      outcome->error_line = started.ErrorLine();
    }
    return kTrue;
  } catch (...) {
    const platform::Failure failure = GuardedFailure();
    WriteLog("ERR : fncExecuteShell, " + FailureNumber(failure) + ":" + failure.description());
  }
  return kFalse;
}

}  // namespace

std::int16_t fncExecuteShell(std::string command_line, std::int32_t timeout_ms,
                             std::int16_t hide_window, ProgramOutcome* outcome) {
  return ExecuteShell(command_line, timeout_ms, hide_window, nullptr, outcome);
}

std::int16_t fncExecuteShell(std::string command_line, std::int32_t timeout_ms,
                             std::int16_t hide_window, const platform::CommandLine& program,
                             ProgramOutcome* outcome) {
  return ExecuteShell(command_line, timeout_ms, hide_window, &program, outcome);
}

std::int16_t fncTerminateProcess(platform::StartedProgram& program, std::string& reason) {
  try {
    reason.clear();
    WriteLog("MSG : Executing fncTerminateProcess");
    // Whether the kill succeeds tells a program that finished in time from
    // one that was stopped at the end of its wait.
    if (program.EndGroup()) {
      WriteLog("ERR : Terminating the script as, " + reason);
      WriteLog("MSG : Successfully Terminated Process ");
    } else {
      WriteLog("MSG : Successfully Executed the script");
    }
  } catch (...) {
    const platform::Failure failure = GuardedFailure();
    reason = "Error while terminating the script.";
    WriteLog("ERR : fncTerminateProcess " + FailureNumber(failure) + " " + failure.description());
  }
  return 0;
}

std::string fncFormatMessage(std::int32_t error_code) {
  try {
    std::string buffer(257, ' ');
    const std::uint32_t length =
        platform::FormatSystemMessage(static_cast<std::uint32_t>(error_code), buffer.data(), 200);
    if (length > 0) {
      // The system's text ends in CR LF, which the callers do not want.
      if (length < 2) throw platform::Failure(platform::err::kInvalidCall);
      return std::to_string(error_code) + "-" + buffer.substr(0, length - 2);
    }
  } catch (...) {
    const platform::Failure failure = GuardedFailure();
    WriteLog("ERR : fncFormatMessage. ErrDesc : " + FailureNumber(failure) + " " +
             failure.description());
  }
  return std::to_string(error_code);
}
