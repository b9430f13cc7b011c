// The cabinet is read from memory, the bytes whose signature was checked;
// libgcab lists its folders and files, the names are checked, and only then
// are the files extracted, each under the name checked here (the extract
// name is set explicitly, so nothing libgcab derives from the cabinet's
// bytes decides where a file lands).
#include "tools/qxhost/install/cabinet_reader.h"

#include <gio/gio.h>
#include <libgcab.h>

#include "tools/qxhost/install/inf_reader.h"
#include "tools/qxhost/system/glib_holders.h"
#include "tools/qxhost/text/engine_text.h"

namespace qxhost {
namespace {

// Entry names are quoted in messages: cut and escaped like page text.
std::string Quoted(const std::string& name) {
  return "'" + QuotedEngineText(name) + "'";
}

// Why the name is not a plain file name, or "".
std::string NameProblem(const std::string& name) {
  if (name.empty()) return "is empty";
  if (name[0] == '/' || name[0] == '\\' || (name.size() >= 2 && name[1] == ':'))
    return "is an absolute path";
  if (name == "." || name == ".." || name.find("../") != std::string::npos ||
      name.find("..\\") != std::string::npos ||
      (name.size() >= 3 && (name.compare(name.size() - 3, 3, "/..") == 0 ||
                            name.compare(name.size() - 3, 3, "\\..") == 0)))
    return "leaves the folder ('..')";
  if (name.find_first_of("/\\") != std::string::npos)
    return "names a subfolder; a code-download cabinet holds plain files";
  for (char c : name) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == ':')
      return "holds a control character or ':'";
  }
  if (name.size() > 255) return "is longer than 255 bytes";
  return std::string();
}

struct ExtractNames {
  std::vector<GCabFile*> allowed;
};

gboolean AllowChecked(GCabFile* file, gpointer data) {
  const auto* names = static_cast<const ExtractNames*>(data);
  for (GCabFile* allowed : names->allowed) {
    if (allowed == file) return TRUE;
  }
  return FALSE;
}

// Checks one entry against the names and sizes before it and, when it
// passes, sets it to be extracted under its checked name.
bool TakeEntry(GCabFile* file, ExtractNames* checked,
               unsigned long long* content, std::vector<std::string>* names,
               std::string* why) {
  const char* rawName = gcab_file_get_name(file);
  std::string name = rawName != nullptr ? rawName : "";
  std::string problem = NameProblem(name);
  if (!problem.empty()) {
    *why = "its entry " + Quoted(name) + " " + problem;
    return false;
  }
  for (const std::string& earlier : *names) {
    if (SameInfName(earlier, name)) {
      *why = "it holds " + Quoted(name) + " twice";
      return false;
    }
  }
  *content += gcab_file_get_size(file);
  if (names->size() >= kMaxCabinetEntries || *content > kMaxCabinetContent) {
    *why = "it holds more than " + std::to_string(kMaxCabinetEntries) +
           " files or " + std::to_string(kMaxCabinetContent >> 20) + " MiB";
    return false;
  }
  gcab_file_set_extract_name(file, name.c_str());
  names->push_back(name);
  checked->allowed.push_back(file);
  return true;
}

}  // namespace

bool UnpackCabinet(const std::string& bytes, const std::string& folder,
                   std::vector<std::string>* names, std::string* why) {
  UniqueGObject<GCabCabinet> cabinet(gcab_cabinet_new());
  UniqueGObject<GInputStream> stream(g_memory_input_stream_new_from_data(
      bytes.data(), static_cast<gssize>(bytes.size()), /*destroy=*/nullptr));
  UniqueGError error;
  if (!gcab_cabinet_load(cabinet.get(), stream.get(), nullptr, error.put())) {
    *why = std::string("it is not a cabinet that can be read (") +
           (error ? error.get()->message : "unknown error") + ")";
    return false;
  }
  GPtrArray* folders = gcab_cabinet_get_folders(cabinet.get());
  ExtractNames checked;
  unsigned long long content = 0;
  names->clear();
  for (guint f = 0; folders != nullptr && f < folders->len; ++f) {
    auto* cabFolder = static_cast<GCabFolder*>(g_ptr_array_index(folders, f));
    UniqueGSList files(gcab_folder_get_files(cabFolder));
    for (GSList* item = files.get(); item != nullptr; item = item->next) {
      if (!TakeEntry(static_cast<GCabFile*>(item->data), &checked, &content,
                     names, why))
        return false;
    }
  }
  if (names->empty()) {
    *why = "it holds no files";
    return false;
  }
  UniqueGObject<GFile> target(g_file_new_for_path(folder.c_str()));
  if (!gcab_cabinet_extract(cabinet.get(), target.get(), AllowChecked,
                            /*progress=*/nullptr, &checked, nullptr,
                            error.put())) {
    *why = std::string("its files cannot be unpacked (") +
           (error ? error.get()->message : "unknown error") + ")";
    return false;
  }
  return true;
}

}  // namespace qxhost
