#include "sedgewynd/setup_run.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/base/environment.h"
#include "platform/base/module.h"
#include "platform/base/msgbox.h"
#include "platform/base/resource.h"
#include "platform/base/trace.h"
#include "platform/base/winerror.h"
#include "sedgewynd/shell_folders.h"
#include "sedgewynd/strings.h"
#include "sedgewynd/target_walk.h"

namespace quillory::sedgewynd {
namespace {

constexpr char kConfigurationResource[] = "\"INF\"";
constexpr int kMaxCreationRounds = 5;
constexpr std::size_t kReportCapacity = 10000;
constexpr std::size_t kStringBufferSize = 512;
constexpr DWORD kModulePathSize = 4096;
constexpr char kDummyServiceList[] = "[Dummy section]\r\nDummy=Nothing\r\n\r\n";
constexpr char kSharedMapiDir[] = "/Common Files/System/MSMAPI";

bool EndsWithNoCase(std::string_view s, std::string_view tail)
{
    return s.size() >= tail.size() && EqualNoCase(s.substr(s.size() - tail.size()), tail);
}

// The whole regular file, or nothing when it cannot be opened as one;
// unreadable is reported through readable.
std::optional<std::string> ReadFileIfPresent(const std::string& path, bool& readable)
{
    readable = false;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return std::nullopt;
    }
    std::string text;
    char buffer[16384];
    ssize_t n = 0;
    while ((n = read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) text.append(buffer, static_cast<std::size_t>(n));
    readable = n == 0;
    close(fd);
    return text;
}

bool CreateNew(const std::string& path)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const std::size_t size = sizeof kDummyServiceList - 1;
    if (write(fd, kDummyServiceList, size) != static_cast<ssize_t>(size))
        Trace("sedgewynd: %s created but not filled: %s\n", path.c_str(), std::strerror(errno));
    close(fd);
    Trace("sedgewynd: created %s\n", path.c_str());
    return true;
}

std::vector<std::string> Subdirectories(const std::string& dir)
{
    std::vector<std::string> subs;
    DIR* d = opendir(dir.c_str());
    if (!d) return subs;
    while (const dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        struct stat st {};
        const std::string sub = dir + "/" + name;
        if (stat(sub.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) subs.push_back(sub);
    }
    closedir(d);
    std::sort(subs.begin(), subs.end());
    return subs;
}

}  // namespace

std::string ConfigurationPathFor(const std::string& modulePath)
{
    if (EndsWithNoCase(modulePath, ".exe")) return modulePath.substr(0, modulePath.size() - 4) + ".inf";
    return modulePath + ".inf";
}

CSetupRun::CSetupRun(HINSTANCE instance, MergeMode mode, bool office12)
    : instance_(instance), mode_(mode), office12_(office12)
{
}

std::string CSetupRun::String(UINT id) const
{
    char buffer[kStringBufferSize];
    const int n = LoadString(instance_, id, buffer, sizeof buffer);
    if (n <= 0) Trace("sedgewynd: string %u missing\n", id);
    return std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
}

bool CSetupRun::ReadConfiguration(std::string& text, UINT& error) const
{
    char modulePath[kModulePathSize];
    const DWORD n = GetModuleFileName(instance_, modulePath, kModulePathSize);
    if (n > 0 && n < kModulePathSize) {
        const std::string path = ConfigurationPathFor(modulePath);
        bool readable = false;
        if (std::optional<std::string> file = ReadFileIfPresent(path, readable)) {
            if (!readable || file->empty()) {
                error = IDS_CONFIGURATION_EMPTY;
                return false;
            }
            Trace("sedgewynd: configuration from %s\n", path.c_str());
            text = std::move(*file);
            return true;
        }
    }
    HRSRC resource = FindResource(instance_, kConfigurationResource, RT_RCDATA);
    const DWORD size = resource ? SizeofResource(instance_, resource) : 0;
    const void* data = size > 1 ? LockResource(LoadResource(instance_, resource)) : nullptr;
    if (!data) {
        error = IDS_NO_CONFIGURATION;
        return false;
    }
    text.assign(static_cast<const char*>(data), size);
    return true;
}

bool CSetupRun::CreateMissingServiceList(const std::string& targetFile) const
{
    const std::string file = NativePath(targetFile);
    if (const auto system = SpecialFolder(CSIDL_SYSTEM); system && CreateNew(NativePath(*system) + "/" + file))
        return true;
    const auto programFiles = SpecialFolder(CSIDL_PROGRAM_FILES);
    if (!programFiles) return false;
    const std::string shared = NativePath(*programFiles) + kSharedMapiDir;
    if (CreateNew(shared + "/" + file)) return true;
    for (const std::string& sub : Subdirectories(shared))
        if (CreateNew(sub + "/" + file)) return true;
    return false;
}

void CSetupRun::ReportSuccess(const std::vector<std::string>& files) const
{
    std::string text = String(IDS_UPDATED_REPORT);
    for (const std::string& f : files) {
        const std::string line = "  " + f + "\r\n";
        if (text.size() + line.size() > kReportCapacity) {
            Trace("sedgewynd: report full; %s and later files not listed\n", f.c_str());
            break;
        }
        text += line;
    }
    MessageBox(nullptr, text.c_str(), String(IDS_CAPTION).c_str(), MB_ICONINFORMATION | MB_OK);
}

CSetupRun::Outcome CSetupRun::RunOnce()
{
    std::string text;
    UINT error = 0;
    if (!ReadConfiguration(text, error)) return {error};

    CInfDocument config(InfKind::Configuration);
    if (const InfStatus s = config.Parse(text); s != InfStatus::Ok) {
        Trace("sedgewynd: configuration out of bounds (%d)\n", static_cast<int>(s));
        return {IDS_CONFIGURATION_ERROR};
    }
    const InfSection* control = config.FindSection(kControlSection);
    if (!control || control->entries.empty()) return {IDS_CONTROL_SECTION_EMPTY};
    const InfEntry* targetFile = control->Find("TargetFile");
    const InfEntry* targetPath = control->Find("TargetPath");
    if (!targetFile || !targetPath) return {IDS_CONFIGURATION_ERROR};

    const InfEntry* backup = control->Find(mode_ == MergeMode::Install ? "BackupExt" : "UninstallBackupExt");
    const InfEntry* overwrite = control->Find("Overwrite");
    const InfEntry* oneForOk = control->Find("OneForOk");
    const InfEntry* silentOk = control->Find("SilentOk");
    MergeOptions options;
    options.mode = mode_;
    options.overwrite = !overwrite || LeadingNumber(overwrite->value) > 0;

    CTargetWalker walker(config, options, targetFile->value, backup ? backup->value : std::string(), backedUp_);
    std::string_view paths = targetPath->value;
    while (!paths.empty()) {
        const std::size_t semi = paths.find(';');
        const std::string_view element = paths.substr(0, semi);
        if (element.empty()) break;
        walker.ProcessElement(element);
        if (semi == std::string_view::npos) break;
        paths.remove_prefix(semi + 1);
    }

    if (office12_ && mode_ == MergeMode::Install && creationRounds_ < kMaxCreationRounds) {
        ++creationRounds_;
        if (CreateMissingServiceList(targetFile->value)) return {0, true};
    }

    Trace("sedgewynd: %d found, %d updated\n", walker.Found(), walker.Updated());
    if (walker.Found() == 0) return {IDS_NO_TARGETS};
    if (walker.Updated() == 0) return {IDS_NONE_UPDATED};
    if ((oneForOk && LeadingNumber(oneForOk->value) == 0) && walker.Updated() != walker.Found())
        return {IDS_SOME_NOT_UPDATED};
    if (!silentOk || LeadingNumber(silentOk->value) == 0) ReportSuccess(walker.UpdatedFiles());
    return {0};
}

UINT CSetupRun::Execute()
{
    for (;;) {
        const Outcome outcome = RunOnce();
        if (outcome.restart) continue;
        if (outcome.error == 0) return ERROR_SUCCESS;
        const int answer = MessageBox(nullptr, String(outcome.error).c_str(), String(IDS_CAPTION).c_str(),
                                      MB_ICONERROR | MB_ABORTRETRYIGNORE);
        if (answer == IDRETRY || answer == IDTRYAGAIN) continue;
        if (answer == IDIGNORE || answer == IDCONTINUE) return ERROR_SUCCESS;
        return ERROR_INSTALL_FAILURE;
    }
}

}  // namespace quillory::sedgewynd
