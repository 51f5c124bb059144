// Helpers shared by the INF merge tests: files, a private copy of the library,
// and the scripted message boxes.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "platform/base/environment.h"
#include "platform/base/module.h"
#include "platform/base/msgbox.h"
#include "platform/base/tests/test_home.h"

namespace quillory::sedgewynd::testing {

namespace fs = std::filesystem;

inline void WriteFile(const fs::path& p, const std::string& bytes)
{
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string ReadFile(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline int Count(const std::string& text, const std::string& what)
{
    int n = 0;
    for (auto pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + what.size())) ++n;
    return n;
}

inline fs::path Folder(int csidl) { return *quillory::SpecialFolderPath(csidl); }

// A private copy of the library in the test's environment root, so that its
// configuration file beside it and its remembered state belong to one test.
class CLibraryCopy {
public:
    CLibraryCopy(const fs::path& root, const char* name = "libsedgewynd.so")
    {
        fs::create_directories(root / "lib");
        path_ = root / "lib" / name;
        fs::copy_file(quillory::testing::BuildLibDir() / name, path_, fs::copy_options::overwrite_existing);
        module_ = LoadLibrary(path_.c_str());
    }
    ~CLibraryCopy()
    {
        if (module_) FreeLibrary(module_);
    }
    CLibraryCopy(const CLibraryCopy&) = delete;
    CLibraryCopy& operator=(const CLibraryCopy&) = delete;

    HMODULE module() const { return module_; }
    const fs::path& path() const { return path_; }
    fs::path ConfigurationPath() const { return fs::path(path_.string() + ".inf"); }

    UINT Call(const char* entry) const
    {
        auto fn = reinterpret_cast<UINT (*)(ULONG)>(GetProcAddress(module_, entry));
        return fn ? fn(0) : 0xFFFFFFFFu;
    }
    UINT Install() const { return Call("Install"); }
    UINT Uninstall() const { return Call("Uninstall"); }

private:
    fs::path path_;
    HMODULE module_ = nullptr;
};

// Installs a scripted presenter for the lifetime of a test.
class CScriptedBoxes {
public:
    CScriptedBoxes() : presenter_(std::make_shared<CScriptedPresenter>()) { SetMessageBoxPresenter(presenter_); }
    ~CScriptedBoxes() { SetMessageBoxPresenter(nullptr); }
    CScriptedBoxes(const CScriptedBoxes&) = delete;
    CScriptedBoxes& operator=(const CScriptedBoxes&) = delete;
    CScriptedPresenter* operator->() const { return presenter_.get(); }

private:
    std::shared_ptr<CScriptedPresenter> presenter_;
};

}  // namespace quillory::sedgewynd::testing
