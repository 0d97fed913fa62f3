#include "catalogue/AppState.h"


#include "platform/Files.h"

namespace catalogue {

namespace {

// "tomeshelf" -> "tomeshelf", "tomeshelf.bin" -> "tomeshelf"; a leading dot
// is part of the name, not an extension.
std::string NameWithoutExtension(const std::string& fileName) {
  const size_t dot = fileName.rfind('.');
  return dot == std::string::npos || dot == 0 ? fileName : fileName.substr(0, dot);
}

}  // namespace

TAppState& AppState() {
  static TAppState state;
  return state;
}

void InitAppState(const TStartupEnvironment& env) {
  TAppState& st = AppState();
  st = TAppState{};

  // 1. The block cache starts empty (number -1, as TBlockCache is built).

  // 2. Program folder.
  const std::string programPath =
      env.programPath.empty() ? platform::ProgramPath() : env.programPath;
  st.programDir = platform::IncludeTrailingPathDelimiter(platform::ExtractFilePath(programPath));

  // The folder the program writes to. A program installed where the user may
  // not write (/usr/bin, /opt) keeps its files in the user's data folder.
  const auto isWritable = env.isWritable ? env.isWritable : platform::IsWritableDirectory;
  st.dataDir = st.programDir;
  if (!isWritable(st.programDir)) {
    const std::string userDir = env.userDataDir.empty() ? platform::UserDataDir() : env.userDataDir;
    if (platform::IsAbsolutePath(userDir)) {
      st.dataDir = platform::IncludeTrailingPathDelimiter(userDir);
      platform::ForceDirectories(st.dataDir);
    }
  }

  st.dataDirWritable = isWritable(st.dataDir);

  // 3. Work folder, created when missing.
  st.workDir = st.dataDir + "TMP/";
  platform::ForceDirectories(st.workDir);

  // 4. Settings file and catalogue archive, named after the executable.
  const std::string base = NameWithoutExtension(platform::ExtractFileName(programPath));
  st.dbzPath = st.dataDir + base + ".dbz";
  st.iniPath = st.dataDir + base + ".ini";
  st.defaultExportDir = st.dataDir + "exp/";

  // 5. The block cache's lines start empty; 6. sort column 0, ascending
  // (both as TAppState is built).
}

std::string DataDirNotWritableMessage() {
  return "Нет прав на запись в каталог данных программы " + AppState().dataDir +
         ".\nНастройки и список книг не могут быть сохранены.";
}

int clearTmpDir() { return clearWorkFolder(AppState().workDir, AppState().dataDir); }

int clearWorkFolder(const std::string& workDir, const std::string& dataDir) {
  if (workDir.empty() || dataDir.empty()) return 0;

  // Every file in the work folder goes, so make sure it is ours: "TMP"
  // inside the data folder, even when either path runs through links.
  const std::string work = platform::RealPath(workDir);
  const std::string data = platform::RealPath(dataDir);
  if (work.empty() || data.empty() || work != platform::JoinPath(data, "TMP")) return 0;
  return platform::DeleteFilesInFolder(work);
}

}  // namespace catalogue
