// Plug-in look-up along MAYA_PLUG_IN_PATH and the modules along MAYA_MODULE_PATH.
//
// A module description file holds module lines, each followed by lines that belong to it:
//   + [PLATFORM:p] [MAYAVERSION:v] [LOCALE:l] name version path
//   [r] plug-ins: folder          (scripts, icons and presets the same)
//   VAR +:= value   VAR := value   (value relative to the module's folder; append, set)
//   VAR += value    VAR = value    (value as written; append, set)
// Relative module paths are relative to the file. Only a module whose conditions hold here adds
// its plug-ins folder and its MAYA_PLUG_IN_PATH entries; other variables are checked and not
// applied, as the stand-in never changes its process environment.
#include "ModulePath.h"

#include <maya/MGlobal.h>
#include <maya/MString.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

namespace mayahost {
namespace detail {
namespace {

namespace fs = std::filesystem;

// Module lines are matched against the host the stand-in mirrors: the 2022 devkit, installed
// in English.
constexpr std::string_view kHostVersion = "2022";
constexpr std::string_view kHostLocale = "en_US";

// The platform as the host's `about -os` names it, which module conditions are compared with.
#if defined(_WIN64)
constexpr std::string_view kPlatform = "win64";
#elif defined(_WIN32)
constexpr std::string_view kPlatform = "nt";
#elif defined(__APPLE__)
constexpr std::string_view kPlatform = "mac";
#else
constexpr std::string_view kPlatform = "linux";
#endif

#ifdef _WIN32
constexpr char kPathListSeparator = ';';
constexpr std::string_view kPluginSuffix = ".mll";
constexpr const char* kFolderSeparators = "/\\";
#else
constexpr char kPathListSeparator = ':';
constexpr std::string_view kPluginSuffix = kPlatform == "mac" ? ".bundle" : ".so";
constexpr const char* kFolderSeparators = "/";
#endif

bool isBareName(const std::string& request) {
    return request.find_first_of(kFolderSeparators) == std::string::npos;
}

std::string withPluginSuffix(const std::string& name) {
    const bool hasSuffix = name.size() > kPluginSuffix.size() &&
                           name.compare(name.size() - kPluginSuffix.size(), std::string::npos,
                                        kPluginSuffix.data(), kPluginSuffix.size()) == 0;
    return hasSuffix ? name : name + std::string(kPluginSuffix);
}

std::string_view trimmed(std::string_view text) {
    const auto isSpace = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    return text;
}

// The next blank-separated word of `text`, taken off its front.
std::string_view nextWord(std::string_view& text) {
    text = trimmed(text);
    std::size_t end = 0;
    while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end]))) ++end;
    const std::string_view word = text.substr(0, end);
    text.remove_prefix(end);
    return word;
}

std::vector<fs::path> pathList(const char* variable) {
    std::vector<fs::path> folders;
    const char* value = std::getenv(variable);
    std::string_view rest = value != nullptr ? value : "";
    while (!rest.empty()) {
        const std::size_t end = std::min(rest.find(kPathListSeparator), rest.size());
        if (end > 0) folders.emplace_back(std::string(rest.substr(0, end)));
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    return folders;
}

fs::path resolved(const fs::path& base, std::string_view relative) {
    const fs::path path{std::string(relative)};
    return (path.is_absolute() ? path : base / path).lexically_normal();
}

// Reads one module description file into the plug-in folders its applicable modules add.
class ModuleFileReader {
  public:
    ModuleFileReader(fs::path file, std::vector<fs::path>& pluginFolders)
        : file_(std::move(file)), pluginFolders_(pluginFolders) {}

    void read() {
        std::ifstream in(file_, std::ios::binary);
        std::string line;
        for (int number = 1; std::getline(in, line); ++number) {
            const std::string problem = readLine(trimmed(line));
            if (!problem.empty()) {
                const std::string error = "module file \"" + file_.string() + "\", line " +
                                          std::to_string(number) + ": " + problem +
                                          "; the line is skipped";
                MGlobal::displayError(MString(error.c_str()));
            }
        }
        finishModule();
    }

  private:
    struct Module {
        bool applies = false;
        fs::path root;
        fs::path pluginsFolder;
        std::vector<fs::path> pluginPath;  // from MAYA_PLUG_IN_PATH lines
    };

    // Each reader returns what is wrong with the line, or nothing.
    std::string readLine(std::string_view line) {
        if (line.empty() || line.front() == '#') return {};
        if (line.front() == '+') return readModuleLine(line.substr(1));
        if (!module_) return "a line before the first module line (\"+ name version path\")";
        std::string_view folderLine = line;
        if (folderLine.substr(0, 3) == "[r]") folderLine = trimmed(folderLine.substr(3));
        const std::size_t word = std::min(
            folderLine.find_first_not_of("abcdefghijklmnopqrstuvwxyz-"), folderLine.size());
        if (word > 0 && word < folderLine.size() && folderLine[word] == ':' &&
            (word + 1 == folderLine.size() || folderLine[word + 1] == ' '))
            return readFolderLine(folderLine.substr(0, word), trimmed(folderLine.substr(word + 1)));
        if (line.find('=') != std::string_view::npos) return readVariableLine(line);
        return "neither a module line, a folder line (\"plug-ins: path\") nor a variable line "
               "(\"NAME +:= value\")";
    }

    std::string readModuleLine(std::string_view rest) {
        finishModule();
        bool applies = true;
        std::string_view word = nextWord(rest);
        for (std::size_t colon = word.find(':'); colon != std::string_view::npos && colon > 0;
             word = nextWord(rest), colon = word.find(':')) {
            const std::string_view key = word.substr(0, colon);
            if (!std::all_of(key.begin(), key.end(), [](char c) { return c >= 'A' && c <= 'Z'; }))
                break;  // a name with a colon in it, not a condition
            const std::string_view value = word.substr(colon + 1);
            if (key == "PLATFORM") {
                applies = applies && value == kPlatform;
            } else if (key == "MAYAVERSION") {
                applies = applies && value == kHostVersion;
            } else if (key == "LOCALE") {
                applies = applies && value == kHostLocale;
            } else {
                return "unknown condition \"" + std::string(key) +
                       "\" (expected PLATFORM, MAYAVERSION or LOCALE)";
            }
        }
        const std::string_view version = nextWord(rest);
        const std::string_view path = trimmed(rest);
        if (word.empty() || version.empty() || path.empty())
            return "a module line needs a name, a version and a path after its conditions";
        Module module;
        module.applies = applies;
        module.root = resolved(file_.parent_path(), path);
        module.pluginsFolder = module.root / "plug-ins";
        module_ = std::move(module);
        return {};
    }

    std::string readFolderLine(std::string_view folder, std::string_view path) {
        if (folder != "plug-ins" && folder != "scripts" && folder != "icons" && folder != "presets")
            return "unknown folder \"" + std::string(folder) +
                   "\" (expected plug-ins, scripts, icons or presets)";
        if (path.empty()) return "the " + std::string(folder) + " folder line names no folder";
        if (folder == "plug-ins") module_->pluginsFolder = resolved(module_->root, path);
        return {};
    }

    std::string readVariableLine(std::string_view line) {
        std::size_t operatorStart = line.find('=');
        const std::string_view value = trimmed(line.substr(operatorStart + 1));
        const bool relative = operatorStart > 0 && line[operatorStart - 1] == ':';
        if (relative) --operatorStart;
        const bool appends = operatorStart > 0 && line[operatorStart - 1] == '+';
        if (appends) --operatorStart;
        const std::string_view name = trimmed(line.substr(0, operatorStart));
        const auto isNameCharacter = [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
        };
        if (name.empty() || std::isdigit(static_cast<unsigned char>(name.front())) != 0 ||
            !std::all_of(name.begin(), name.end(), isNameCharacter))
            return "\"" + std::string(name) + "\" is no variable name";
        if (!relative && value.empty())
            return "variable " + std::string(name) + " is given no value";
        if (name == "MAYA_PLUG_IN_PATH") {
            if (!appends) module_->pluginPath.clear();
            module_->pluginPath.push_back(relative ? resolved(module_->root, value)
                                                   : fs::path(std::string(value)));
        }
        return {};
    }

    void finishModule() {
        if (module_ && module_->applies) {
            pluginFolders_.push_back(module_->pluginsFolder);
            pluginFolders_.insert(pluginFolders_.end(), module_->pluginPath.begin(),
                                  module_->pluginPath.end());
        }
        module_.reset();
    }

    const fs::path file_;
    std::vector<fs::path>& pluginFolders_;
    std::optional<Module> module_;
};

// The ".mod" files of one folder, by name.
std::vector<fs::path> moduleFiles(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        if (entry->path().extension() == ".mod" && entry->is_regular_file(error))
            files.push_back(entry->path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The plug-in search path: MAYA_PLUG_IN_PATH, then what the modules add, in module path order.
std::vector<fs::path> pluginSearchPath() {
    std::vector<fs::path> folders = pathList("MAYA_PLUG_IN_PATH");
    for (const fs::path& moduleFolder : pathList("MAYA_MODULE_PATH")) {
        for (const fs::path& file : moduleFiles(moduleFolder)) {
            ModuleFileReader(file, folders).read();
        }
    }
    return folders;
}

}  // namespace

Result findPluginFile(const std::string& request, std::string& path) {
    if (!isBareName(request)) {
        path = request;
        return {};
    }
    try {
        const std::string fileName = withPluginSuffix(request);
        for (const fs::path& folder : pluginSearchPath()) {
            std::error_code error;
            const fs::path candidate = folder / fileName;
            if (fs::is_regular_file(candidate, error)) {
                path = candidate.string();
                return {};
            }
        }
    } catch (const std::exception& failure) {
        return Result::failure("looking for plug-in \"" + request + "\" failed: " + failure.what());
    }
    return Result::failure("plug-in \"" + request +
                           "\" not found along MAYA_PLUG_IN_PATH nor in the plug-ins folders of "
                           "the modules along MAYA_MODULE_PATH");
}

bool namesPlugin(const std::string& request, const std::string& path) {
    if (request == path) return true;
    if (!isBareName(request)) return false;
    const std::size_t nameStart = path.find_last_of(kFolderSeparators);
    const std::string fileName = nameStart == std::string::npos ? path : path.substr(nameStart + 1);
    return fileName == withPluginSuffix(request);
}

}  // namespace detail
}  // namespace mayahost
