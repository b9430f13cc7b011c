// The run command: with the file read while the command line was checked,
// initialises COM (a single-threaded apartment, as script hosts use), runs
// the script or page in its own session, releases everything the script held
// and lets the runtime unload the libraries that agree to go.
#include "tools/qxhost/commands/run_command.h"

#include <objbase.h>

#include <cmath>
#include <cstdlib>
#include <new>

#include "tools/qxhost/install/codebase.h"
#include "tools/qxhost/install/trust_bundle.h"
#include "tools/qxhost/page/page_document.h"
#include "tools/qxhost/page/page_runner.h"
#include "tools/qxhost/script/script_globals.h"
#include "tools/qxhost/script/script_objects.h"
#include "tools/qxhost/script/script_session.h"
#include "tools/qxhost/script/script_watchdog.h"
#include "tools/qxhost/system/host_output.h"
#include "tools/qxhost/system/input_file.h"
#include "tools/qxhost/system/registry_session.h"
#include "tools/qxhost/text/ascii_text.h"

namespace qxhost {
namespace {

bool ParseTimeout(const std::string& text, double* seconds) {
  if (text.empty() || text.size() > 16) return false;
  for (char c : text) {
    if ((c < '0' || c > '9') && c != '.') return false;
  }
  char* end = nullptr;
  double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !std::isfinite(value) ||
      value <= 0 || value > kMaxTimeoutSeconds)
    return false;
  *seconds = value;
  return true;
}

bool IsPage(const std::string& file) {
  size_t dot = file.rfind('.');
  if (dot == std::string::npos || file.find('/', dot) != std::string::npos)
    return false;
  std::string extension = file.substr(dot);
  return EqualsIgnoringAsciiCase(extension, ".html") ||
         EqualsIgnoringAsciiCase(extension, ".htm");
}

int RunScriptFile(ScriptSession* session, const RunRequest& request,
                  const std::string& text) {
  DefineActiveXObject(session->context());
  DefineWScript(session->context(), request.file, request.arguments);
  switch (session->Run(request.file, text, 1)) {
    case RunOutcome::kCompleted:
      return kExitSuccess;
    case RunOutcome::kQuit:
      return session->quitCode();
    case RunOutcome::kFailed:
      break;
  }
  return kExitFailure;
}

int RunInSession(const RunRequest& request) {
  std::string error;
  ScriptSession session(/*untrusted=*/request.page || request.untrusted);
  if (!session.Open(&error)) return Failure(error);
  int exitCode = request.page ? RunPage(&session, request.file,
                                        request.document, request.install)
                              : RunScriptFile(&session, request, request.text);
  return session.Finish(exitCode);
}

constexpr char kCertificateMarker[] = "-----BEGIN CERTIFICATE-----";

// Reads a --trust file into the bundle: PEM text with at least one
// certificate. False with *error (a usage error) otherwise.
bool AddTrustFile(const std::string& file, std::string* bundle,
                  std::string* error) {
  std::string text;
  std::string reason;
  if (!ReadInputFile(file, &text, &reason)) {
    *error = "--trust: " + reason;
    return false;
  }
  if (text.find(kCertificateMarker) == std::string::npos) {
    *error = "--trust: " + file + " holds no PEM certificate";
    return false;
  }
  if (!CheckTrustBundle(file, text, error)) return false;
  if (!bundle->empty() && bundle->back() != '\n') *bundle += '\n';
  *bundle += text;
  return true;
}

// The run options before the file; *index ends at the file's word.
bool ReadRunOptions(const std::vector<std::string>& words, size_t* at,
                    RunRequest* request, std::string* error) {
  size_t& index = *at;
  for (; index < words.size(); ++index) {
    const std::string& word = words[index];
    if (word == "--untrusted") {
      request->untrusted = true;
    } else if (word == "--timeout") {
      if (index + 1 >= words.size()) {
        *error = "option --timeout needs a number of seconds";
        return false;
      }
      const std::string& value = words[++index];
      if (!ParseTimeout(value, &request->timeoutSeconds)) {
        *error = "timeout '" + value +
                 "' is not a number of seconds above 0 and up to 86400";
        return false;
      }
    } else if (word == "--trust" || word == "--cache") {
      if (index + 1 >= words.size() || words[index + 1].empty()) {
        *error = "option " + word +
                 (word == "--trust" ? " needs a PEM file" : " needs a folder");
        return false;
      }
      const std::string& value = words[++index];
      if (word == "--cache") {
        request->install.cacheFolder = AbsolutePath(value);
      } else if (!AddTrustFile(value, &request->install.trustPem, error)) {
        return false;
      }
    } else if (word == "--") {
      ++index;
      break;
    } else if (word.size() > 1 && word[0] == '-') {
      *error = "unknown run option '" + word + "'";
      return false;
    } else {
      break;
    }
  }
  return true;
}

// The script or page, read (and a page parsed) before the registry is
// opened; request->readError says why it cannot be run.
void ReadRunInput(RunRequest* request) {
  if (ReadInputFile(request->file, &request->text, &request->readError) &&
      request->page) {
    std::string parseError;
    try {
      if (!ParsePage(request->text, &request->document, &parseError))
        request->readError = request->file + ": " + parseError;
    } catch (const std::bad_alloc&) {
      request->readError = request->file + ": out of memory reading the page";
    }
  }
}

}  // namespace

bool ParseRunArguments(const std::vector<std::string>& words,
                       RunRequest* request, std::string* error) {
  size_t index = 0;
  if (!ReadRunOptions(words, &index, request, error)) return false;
  if (index >= words.size() || words[index].empty()) {
    *error =
        "usage: run [--untrusted] [--timeout SECONDS] [--trust FILE.pem]... "
        "[--cache DIR] FILE [ARGS...]";
    return false;
  }
  request->file = words[index];
  request->arguments.assign(words.begin() + static_cast<long>(index) + 1,
                            words.end());
  request->page = IsPage(request->file);
  if (request->page) request->install.pageFolder = PageFolderOf(request->file);
  ReadRunInput(request);
  return true;
}

int RunRunCommand(const RunRequest& request) {
  if (request.timeoutSeconds > 0)
    ArmScriptWatchdog(request.timeoutSeconds, request.file);

  HRESULT init =
      CoInitializeEx(/*pvReserved=*/nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(init)) return HresultError(init, "CoInitializeEx");
  int exitCode = kExitFailure;
  try {
    exitCode = RunInSession(request);
  } catch (const std::bad_alloc&) {
    // The host's own memory ran out outside any script call.
    exitCode = Failure(request.file + ": out of memory");
  }
  CoFreeUnusedLibraries();
  CoUninitialize();

  if (request.timeoutSeconds > 0) DisarmScriptWatchdog();
  std::fflush(stdout);
  return exitCode;
}

}  // namespace qxhost
