// The module's MEL scripts, which cannot run here, read against the node as the host describes
// it: every attribute they name exists, every procedure they call is theirs or the host's, and
// the attribute editor template is named after the node type.
#include <gtest/gtest.h>
#include <voxlumhost/Host.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "PluginFixture.h"

namespace {

namespace fs = std::filesystem;

// The host's commands and procedures the scripts may call.
const std::set<std::string> kHostCommands = {
    "AEdependNodeTemplate",
    "AEswatchDisplay",
    "button",
    "connectAttr",
    "connectControl",
    "editorTemplate",
    "exists",
    "fileDialog2",
    "fileBrowserDialog",
    "getAttr",
    "rowLayout",
    "setAttr",
    "setParent",
    "setUITemplate",
    "shadingNode",
    "size",
    "symbolButton",
    "text",
    "textField",
};
// Attributes of the host's own nodes that the scripts connect to.
const std::set<std::string> kHostNodeAttributes = {"worldInverseMatrix"};
const std::set<std::string> kHostNodeTypes = {"place3dTexture"};
const std::set<std::string> kKeywords = {"global", "proc", "if",     "else",  "for",
                                         "while",  "do",   "return", "break", "continue",
                                         "switch", "case", "in",     "true",  "false"};
const std::set<std::string> kTypes = {"string", "int", "float", "vector", "matrix"};

struct Token {
    enum Kind { Word, Flag, Text, Other } kind;
    std::string text;
};

// MEL's tokens, as far as the checks need them: words, flags, string literals (unescaped).
std::vector<Token> tokenize(const std::string& source) {
    std::vector<Token> tokens;
    const auto isWordStart = [](char c) {
        return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
    };
    const auto isWordPart = [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
    };
    for (std::size_t i = 0; i < source.size();) {
        const char c = source[i];
        if (source.compare(i, 2, "//") == 0) {
            i = std::min(source.find('\n', i), source.size());
        } else if (source.compare(i, 2, "/*") == 0) {
            i = std::min(source.find("*/", i), source.size() - 2) + 2;
        } else if (c == '"') {
            std::string text;
            for (++i; i < source.size() && source[i] != '"'; ++i) {
                if (source[i] == '\\') ++i;
                text += source[i];
            }
            ++i;
            tokens.push_back({Token::Text, text});
        } else if (c == '$' || isWordStart(c) ||
                   (c == '-' && i + 1 < source.size() && isWordStart(source[i + 1]))) {
            std::size_t end = i + 1;
            while (end < source.size() && isWordPart(source[end])) ++end;
            const Token::Kind kind = c == '-' ? Token::Flag : c == '$' ? Token::Other : Token::Word;
            tokens.push_back({kind, source.substr(c == '-' ? i + 1 : i, end - i - (c == '-'))});
            i = end;
        } else {
            if (!std::isspace(static_cast<unsigned char>(c)))
                tokens.push_back({Token::Other, std::string(1, c)});
            ++i;
        }
    }
    return tokens;
}

struct ScriptUse {
    std::set<std::string> globalProcedures;
    std::set<std::string> procedures;  // defined, global or not
    std::set<std::string> calls;
    std::set<std::string> attributes;
    std::set<std::string> createdTypes;
};

// The string literal starting a command string such as ("proc \"" + $arg + "\"").
const Token* nextText(const std::vector<Token>& tokens, std::size_t from) {
    for (std::size_t i = from; i < tokens.size() && i < from + 2; ++i)
        if (tokens[i].kind == Token::Text) return &tokens[i];
    return nullptr;
}

std::string firstWord(const std::string& command) {
    std::istringstream words(command);
    std::string word;
    words >> word;
    return word;
}

ScriptUse readScript(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream source;
    source << in.rdbuf();
    const std::vector<Token> tokens = tokenize(source.str());
    ScriptUse use;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const Token& token = tokens[i];
        if (token.kind == Token::Word && token.text == "proc") {
            std::size_t name = i + 1;
            if (name < tokens.size() && kTypes.count(tokens[name].text)) ++name;
            if (name + 1 < tokens.size() && tokens[name].text == "[") name += 2;
            if (name >= tokens.size()) break;
            use.procedures.insert(tokens[name].text);
            if (i > 0 && tokens[i - 1].text == "global")
                use.globalProcedures.insert(tokens[name].text);
            i = name;
        } else if (token.kind == Token::Word && !kKeywords.count(token.text) &&
                   !kTypes.count(token.text)) {
            use.calls.insert(token.text);
        } else if (token.kind == Token::Text && token.text.size() > 1 && token.text[0] == '.' &&
                   std::isalpha(static_cast<unsigned char>(token.text[1]))) {
            use.attributes.insert(token.text.substr(1, token.text.find('[') - 1));
        } else if (token.kind == Token::Flag) {
            const Token* argument = nextText(tokens, i + 1);
            if (argument == nullptr) continue;
            if (token.text == "command" || token.text == "fileCommand") {
                use.calls.insert(firstWord(argument->text));
            } else if (token.text == "addControl" || token.text == "suppress") {
                use.attributes.insert(argument->text);
            } else if (token.text == "callCustom" && i + 3 < tokens.size()) {
                use.calls.insert(tokens[i + 1].text);
                use.calls.insert(tokens[i + 2].text);
                use.attributes.insert(tokens[i + 3].text);
            } else if (token.text == "asTexture" || token.text == "asUtility") {
                use.createdTypes.insert(argument->text);
            }
        }
    }
    return use;
}

TEST_F(PluginTest, ModuleScriptsNameOnlyAttributesAndProceduresThatExist) {
    std::vector<mayahost::AttributeInfo> described;
    ASSERT_TRUE(mayahost::describeNodeType("Voxlum", described));
    std::set<std::string> attributes = kHostNodeAttributes;
    for (const mayahost::AttributeInfo& attribute : described) {
        attributes.insert(attribute.longName);
        attributes.insert(attribute.shortName);
    }
    std::set<std::string> nodeTypes = kHostNodeTypes;
    for (const mayahost::NodeTypeInfo& type : mayahost::nodeTypes()) nodeTypes.insert(type.name);

    struct Script {
        const char* file;
        std::set<std::string> mustUse;  // attributes the script is there for
    };
    const Script scripts[] = {
        {"AEVoxlumTemplate.mel",
         {"fileTextureName", "fileHasAlpha", "pointWorld", "placementMatrix"}},
        {"voxlumCreateTexture.mel", {"fileTextureName", "placementMatrix", "worldInverseMatrix"}},
    };
    for (const Script& script : scripts) {
        SCOPED_TRACE(script.file);
        const ScriptUse use = readScript(fs::path(VOXLUM_SCRIPTS_DIR) / script.file);
        // The host sources a script for a global procedure of the file's name.
        EXPECT_EQ(use.globalProcedures.count(fs::path(script.file).stem().string()), 1u);
        for (const std::string& attribute : use.attributes)
            EXPECT_EQ(attributes.count(attribute), 1u) << "no attribute \"" << attribute << "\"";
        for (const std::string& attribute : script.mustUse)
            EXPECT_EQ(use.attributes.count(attribute), 1u) << "does not use " << attribute;
        for (const std::string& call : use.calls)
            EXPECT_TRUE(use.procedures.count(call) || kHostCommands.count(call))
                << "calls \"" << call << "\", defined neither here nor by the host";
        for (const std::string& type : use.createdTypes)
            EXPECT_EQ(nodeTypes.count(type), 1u) << "creates unknown node type \"" << type << "\"";
    }
    // The host looks the template up as "AE" + node type + "Template".
    for (const mayahost::NodeTypeInfo& type : mayahost::nodeTypes())
        EXPECT_TRUE(fs::exists(fs::path(VOXLUM_SCRIPTS_DIR) / ("AE" + type.name + "Template.mel")))
            << type.name;
}

}  // namespace
