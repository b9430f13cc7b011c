// The registry commands: merging a .reg file into the registry in one
// transaction and printing the registry, or one key of it, as .reg text
// read in one transaction.
#include "tools/qxhost/commands/reg_commands.h"

#include <unistd.h>

#include <cstdio>

#include <qxplatform/controls.h>

#include "tools/qxhost/system/host_output.h"
#include "tools/qxhost/system/input_file.h"
#include "tools/qxhost/text/argument_text.h"

namespace qxhost {

bool ParseRegArguments(const std::vector<std::string>& words,
                       RegRequest* request, std::string* error) {
  if (words.empty()) {
    *error = "reg needs 'import FILE.reg' or 'export [KEY]'";
    return false;
  }
  const std::string& action = words[0];
  if (action == "import") {
    if (words.size() != 2 || words[1].empty()) {
      *error = "reg import needs exactly one .reg file";
      return false;
    }
    request->import = true;
    request->file = words[1];
    ReadInputFile(request->file, &request->bytes, &request->readError,
                  kMaxImportFileSize);
    return true;
  }
  if (action == "export") {
    if (words.size() > 2) {
      *error = "reg export takes at most one key";
      return false;
    }
    request->import = false;
    request->wholeStore = words.size() == 1;
    // Key names are typed in the terminal's encoding; the store takes UTF-8.
    if (!request->wholeStore) {
      request->keyText = words[1];
      request->key = ArgumentToUtf8(words[1]);
    }
    return true;
  }
  *error = "unknown reg action '" + action + "'";
  return false;
}

namespace {

int Import(const RegRequest& request) {
  std::string error;
  if (!qxplatform::ImportRegistryText(request.bytes, &error)) {
    return Failure(request.file + ": " + error + "; nothing was imported");
  }
  return kExitSuccess;
}

// The text goes to standard output in pieces as the store writes it, so an
// export of any size needs little memory; one larger than an import takes
// is written all the same, with a warning that it cannot come back whole.
int Export(const RegRequest& request) {
  std::string error;
  const char* key = request.wholeStore ? nullptr : request.key.c_str();
  bool fitsImport = true;
  std::fflush(stdout);
  if (!qxplatform::ExportRegistryTextTo(key, STDOUT_FILENO, nullptr,
                                        &fitsImport, &error))
    return Failure(
        "cannot export " +
        (request.wholeStore ? std::string("the registry") : request.keyText) +
        ": " + error);
  if (!fitsImport) {
    std::fprintf(stderr,
                 "qxhost: warning: the exported text is larger than reg "
                 "import takes (1 GiB); it cannot be imported back whole\n");
  }
  return kExitSuccess;
}

}  // namespace

int RunRegCommand(const RegRequest& request) {
  return request.import ? Import(request) : Export(request);
}

}  // namespace qxhost
