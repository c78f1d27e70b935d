// Loading a plug-in by bare name, found along MAYA_PLUG_IN_PATH or through module files along
// MAYA_MODULE_PATH.
#include <voxlumhost/Host.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
constexpr const char* kSuffix = ".mll";
constexpr char kListSeparator = ';';
#ifdef _WIN64
constexpr const char* kPlatform = "win64";
#else
constexpr const char* kPlatform = "nt";
#endif
#else
constexpr const char* kSuffix = ".so";
constexpr char kListSeparator = ':';
constexpr const char* kPlatform = "linux";
#endif

void setVariable(const char* name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

void writeText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

class ModulePathTest : public ::testing::Test {
  protected:
    void SetUp() override {
        mayahost::setConsoleEcho(false);
        mayahost::clearMessages();
        root_ = fs::temp_directory_path() /
                ("voxlum-modules-" +
                 std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(root_);
        fs::create_directories(root_);
        setVariable("MAYA_PLUG_IN_PATH", "");
        setVariable("MAYA_MODULE_PATH", "");
    }
    void TearDown() override {
        setVariable("MAYA_PLUG_IN_PATH", "");
        setVariable("MAYA_MODULE_PATH", "");
        fs::remove_all(root_);
    }

    // The test plug-in, copied under the host's plug-in name into `folder` below the root.
    fs::path placePlugin(const std::string& folder) {
        const fs::path target = root_ / folder / (std::string("HostTestPlugin") + kSuffix);
        fs::create_directories(target.parent_path());
        fs::copy_file(HOST_TEST_PLUGIN_PLAIN, target);
        return target.lexically_normal();
    }

    std::vector<std::string> errors() const {
        std::vector<std::string> texts;
        for (const mayahost::Message& message : mayahost::messages())
            if (message.kind == mayahost::MessageKind::Error) texts.push_back(message.text);
        return texts;
    }

    fs::path root_;
};

TEST_F(ModulePathTest, BareNameIsFoundAlongThePluginPathAndThroughModules) {
    const std::string here = std::string("PLATFORM:") + kPlatform;
    struct Case {
        const char* what;
        std::string modFile;  // written to modules/test.mod; MAYA_MODULE_PATH names the folder
        const char* pluginFolder;
        bool found;
        std::string pluginPath = "";  // MAYA_PLUG_IN_PATH: folders below the root
    };
    const Case cases[] = {
        {"plug-in path", "", "plugins", true, "empty:plugins"},
        {"module's plug-ins folder, relative to the file",
         "+ " + here + " HostTest 1.0 ../module\n", "module/plug-ins", true},
        {"untagged module line", "+ HostTest 1.0 ../module\n", "module/plug-ins", true},
        {"moved plug-ins folder",
         "+ " + here + " HostTest 1.0 ../module\r\n[r] plug-ins: bin/plugs\r\n", "module/bin/plugs",
         true},
        {"relative MAYA_PLUG_IN_PATH entry",
         "+ " + here + " HostTest 1.0 ../module\nMAYA_PLUG_IN_PATH +:= extra\nPATH +:= bin\n",
         "module/extra", true},
        {"absolute MAYA_PLUG_IN_PATH entry",
         "+ " + here + " HostTest 1.0 ../module\nMAYA_PLUG_IN_PATH = " +
             (root_ / "elsewhere").string() + "\n",
         "elsewhere", true},
        {"module for another platform", "+ PLATFORM:beos HostTest 1.0 ../module\n",
         "module/plug-ins", false},
        {"module for another host version",
         "+ MAYAVERSION:2016 " + here + " HostTest 1.0 ../module\n", "module/plug-ins", false},
        {"later module of the file",
         "# two modules\n+ PLATFORM:beos Other 1.0 ../other\n+ " + here +
             " LOCALE:en_US HostTest 1.0 ../module\n",
         "module/plug-ins", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(root_);
        std::string pluginPath;
        for (std::size_t start = 0; start < c.pluginPath.size();) {
            const std::size_t end = std::min(c.pluginPath.find(':', start), c.pluginPath.size());
            pluginPath +=
                (root_ / c.pluginPath.substr(start, end - start)).string() + kListSeparator;
            start = end + 1;
        }
        setVariable("MAYA_PLUG_IN_PATH", pluginPath);
        writeText(root_ / "modules" / "test.mod", c.modFile);
        setVariable("MAYA_MODULE_PATH", (root_ / "nothing-here").string() + kListSeparator +
                                            (root_ / "modules").string());
        const fs::path placed = placePlugin(c.pluginFolder);

        mayahost::PluginInfo info;
        const mayahost::Result loaded = mayahost::loadPlugin("HostTestPlugin", &info);
        ASSERT_EQ(loaded.ok, c.found) << loaded.error;
        EXPECT_TRUE(errors().empty()) << errors().front();
        if (!c.found) {
            EXPECT_NE(loaded.error.find("\"HostTestPlugin\" not found"), std::string::npos)
                << loaded.error;
            continue;
        }
        EXPECT_EQ(fs::path(info.path).lexically_normal(), placed);
        EXPECT_TRUE(mayahost::unloadPlugin(std::string("HostTestPlugin") + kSuffix));
        EXPECT_FALSE(mayahost::unloadPlugin("HostTestPlugin")) << "unloaded twice";
    }
}

TEST_F(ModulePathTest, MalformedModuleLinesAreReportedWithFileAndLineAndSkipped) {
    const fs::path modFile = root_ / "modules" / "broken.mod";
    writeText(modFile, std::string("MAYA_PLUG_IN_PATH +:= before-any-module\n") +  // 1
                           "+ PLATFORM:" + kPlatform + " MissingPath 1.0\n" +      // 2
                           "+ COLOUR:red Painted 1.0 .\n" +                        // 3
                           "+ PLATFORM:" + kPlatform + " HostTest 1.0 ../module\n" +
                           "1ST_VARIABLE = 1\n" +  // 5
                           "scripts:\n" +          // 6
                           "movies: films\n" +     // 7
                           "just some words\n" +   // 8
                           "LIMIT =\n" +           // 9
                           "MAYA_PLUG_IN_PATH +:= extra\n" + std::string("\0\xff+", 3) + "\n");
    setVariable("MAYA_MODULE_PATH", (root_ / "modules").string());
    placePlugin("module/extra");

    ASSERT_TRUE(mayahost::loadPlugin("HostTestPlugin"));
    EXPECT_TRUE(mayahost::unloadPlugin("HostTestPlugin"));
    const std::vector<std::string> reported = errors();
    const std::vector<int> expectedLines = {1, 2, 3, 5, 6, 7, 8, 9, 11};
    ASSERT_EQ(reported.size(), expectedLines.size());
    for (std::size_t i = 0; i < reported.size(); ++i) {
        EXPECT_NE(reported[i].find(modFile.string()), std::string::npos) << reported[i];
        EXPECT_NE(reported[i].find(", line " + std::to_string(expectedLines[i]) + ":"),
                  std::string::npos)
            << reported[i];
        EXPECT_NE(reported[i].find("skipped"), std::string::npos) << reported[i];
    }
}

}  // namespace
