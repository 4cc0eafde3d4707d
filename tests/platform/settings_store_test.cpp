#include "platform/settings_store.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/settings_reader.h"

namespace paginor {
namespace {

constexpr SettingsHive kUser = SettingsHive::CurrentUser;
constexpr SettingsHive kMachine = SettingsHive::LocalMachine;

class ScratchFolder {
public:
    ScratchFolder() {
        char pattern[] = "/tmp/paginor-settings-test-XXXXXX";
        m_path = mkdtemp(pattern);
    }
    ~ScratchFolder() {
        std::string command = "rm -rf '" + m_path + "'";
        EXPECT_EQ(system(command.c_str()), 0);
    }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> folderEntries(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(path.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

unsigned permissions(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 0777;
}

std::string canonical(const std::string& input, SettingsHive hive = kUser) {
    MemorySettingsStore store;
    std::string error;
    EXPECT_TRUE(store.load(hive, input, error)) << error;
    return store.text(hive);
}

// ---- the file format ----

TEST(SettingsFormat, FilesReadBackInCanonicalForm) {
    struct Case {
        const char* what;
        std::string input;
        std::string expected;
    } cases[] = {
        {"empty file", "", "REGEDIT4\n"},
        {"byte order mark, CRLF, comments and blank lines",
         "\xEF\xBB\xBFREGEDIT4\r\n\r\n; note\r\n  [HKEY_CURRENT_USER\\A]  \r\n\t\"v\"=\"x\"\r\n",
         "REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"v\"=\"x\"\n"},
        {"escapes; another backslash is kept as written",
         R"(REGEDIT4
[HKEY_CURRENT_USER\A]
"na\"me"="C:\\Tab \"q\" a\b")",
         R"(REGEDIT4

[HKEY_CURRENT_USER\A]
"na\"me"="C:\\Tab \"q\" a\\b"
)"},
        {"keys and names ignore case, keep the first spelling; parents become keys",
         R"(REGEDIT4
[HKEY_CURRENT_USER\Software\Orrin.Tadd\Paginor]
"Style"="a"
"version"="1.4.9"
[hkey_current_user\SOFTWARE\orrin.tadd\paginor]
"STYLE"="b"
[HKEY_CURRENT_USER\Software\Orrin.Tadd\Paginor\PageSetup]
[HKEY_CURRENT_USER\Software\Orrin.Tadd\Tabulan]
"basedir"="/tmp"
[HKEY_CURRENT_USER\software\Orrin.Tadd\alpha]
)",
         R"(REGEDIT4

[HKEY_CURRENT_USER\Software]

[HKEY_CURRENT_USER\Software\Orrin.Tadd]

[HKEY_CURRENT_USER\Software\Orrin.Tadd\alpha]

[HKEY_CURRENT_USER\Software\Orrin.Tadd\Paginor]
"Style"="b"
"version"="1.4.9"

[HKEY_CURRENT_USER\Software\Orrin.Tadd\Paginor\PageSetup]

[HKEY_CURRENT_USER\Software\Orrin.Tadd\Tabulan]
"basedir"="/tmp"
)"},
        {"types",
         R"(REGEDIT4
[HKEY_CURRENT_USER\T]
@="default"
"d1"=dword:0000003C
"d2"=dword:3c
"b"=hex:00,01,FF
"b3"=hex(3):0a
"e"=hex:
"d4"=hex(4):3c,00,00,00
"d4short"=hex(4):3c,00
"s1"=hex(1):41,42,00
"s2"=hex(1):41,42
"s3"=hex(1):41,0d,0a,e9,00
"s4"=hex(1):41,00,00
"m"=hex(7):61,00,00
"q"=hex(B):01,00,00,00,00,00,00,00
""="replaces the default"
)",
         R"(REGEDIT4

[HKEY_CURRENT_USER\T]
@="replaces the default"
"d1"=dword:0000003c
"d2"=dword:0000003c
"b"=hex:00,01,ff
"b3"=hex:0a
"e"=hex:
"d4"=dword:0000003c
"d4short"=hex(4):3c,00
"s1"="AB"
"s2"="AB"
"s3"=hex(1):41,0d,0a,e9,00
"s4"=hex(1):41,00,00
"m"=hex(7):61,00,00
"q"=hex(b):01,00,00,00,00,00,00,00
)"},
        {"long byte lists go on over lines",
         R"(REGEDIT4
[HKEY_CURRENT_USER\L]
"long"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,\
    10,11,12,13,14,15,16,17,18,19,1a,1b,1c,1d,1e,1f,  \
  20,21,22,23,24,25,26,27
"next"=dword:00000001
)",
         R"(REGEDIT4

[HKEY_CURRENT_USER\L]
"long"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\
  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27
"next"=dword:00000001
)"},
        {"values of the root",
         "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n[HKEY_CURRENT_USER]\n\"top\"=dword:1\n",
         "REGEDIT4\n\n[HKEY_CURRENT_USER]\n\"top\"=dword:00000001\n\n[HKEY_CURRENT_USER\\A]\n"},
    };
    for (const Case& c : cases) {
        std::string text = canonical(c.input);
        EXPECT_EQ(text, c.expected) << c.what;
        EXPECT_EQ(canonical(text), text) << c.what;
    }
}

TEST(SettingsFormat, EachHiveTakesOnlyItsOwnKeys) {
    EXPECT_EQ(canonical("REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\X]\n", kMachine),
              "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software]\n\n[HKEY_LOCAL_MACHINE\\Software\\X]\n");
    MemorySettingsStore store;
    std::string error;
    EXPECT_FALSE(store.load(kMachine, "REGEDIT4\n[HKEY_CURRENT_USER\\X]\n", error));
    EXPECT_EQ(error, "line 2: the key is not under HKEY_LOCAL_MACHINE");
}

TEST(SettingsFormat, MalformedLinesAreRefusedByLineNumber) {
    struct Case {
        std::string body;  // follows "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n"
        std::string error;
    } cases[] = {
        {"junk", "line 3: a line must be a [key]"},
        {"[HKEY_CURRENT_USER\\A", "line 3: a key line must end with ']'"},
        {"[HKEY_CURRENT_USERS\\A]", "line 3: the key is not under HKEY_CURRENT_USER"},
        {"[HKEY_LOCAL_MACHINE\\A]", "line 3: the key is not under HKEY_CURRENT_USER"},
        {"[HKEY_CURRENT_USER\\A\\\\B]", "line 3: invalid key path: a key name is empty"},
        {"[HKEY_CURRENT_USER\\]", "line 3: invalid key path: a key name is empty"},
        {"[HKEY_CURRENT_USER\\" + std::string(256, 'k') + "]",
         "line 3: invalid key path: a key name is longer than 255 bytes"},
        {"[HKEY_CURRENT_USER\\caf\xC3\xA9]", "line 3: invalid key path: a key name holds a byte"},
        {"[-HKEY_CURRENT_USER\\A]", "line 3: key deletions are not supported"},
        {"\"v\"=-", "line 3: value deletions are not supported"},
        {"\"v\"=\"no end", "line 3: the text has no closing quote"},
        {"\"v\"=\"x\" y", "line 3: unexpected text after the closing quote"},
        {"\"v=\"x\"", "line 3: '=' must follow the value name"},
        {"\"v\" = \"x\"", "line 3: '=' must follow the value name"},
        {"\"v", "line 3: the value name has no closing quote"},
        {"\"a\tb\"=\"x\"", "line 3: the value name holds a byte that is not printable ASCII"},
        {"\"v\"=dword:123456789", "line 3: dword: needs one to eight hex digits"},
        {"\"v\"=dword:", "line 3: dword: needs one to eight hex digits"},
        {"\"v\"=dword:0x10", "line 3: dword: needs one to eight hex digits"},
        {"\"v\"=hex:0,1", "line 3: the bytes must be two hex digits each"},
        {"\"v\"=hex:00,", "line 3: the bytes must be two hex digits each"},
        {"\"v\"=hex:00 01", "line 3: the bytes must be two hex digits each"},
        {"\"v\"=hex:0g", "line 3: the bytes must be two hex digits each"},
        {"\"v\"=hex(zz):00", "line 3: the type must read hex: or hex(N):"},
        {"\"v\"=hex(1:00", "line 3: the type must read hex: or hex(N):"},
        {"\"v\"=hex()", "line 3: the type must read hex: or hex(N):"},
        {"\"v\"=hex", "line 3: the type must read hex: or hex(N):"},
        {"\"v\"=text", "line 3: the data must be a quoted text"},
        {"\"v\"=hex:00,\\\n  01,\\\n\"w\"=\"x\"", "line 3: the bytes must be two hex digits each"},
        {"\"v\"=hex:00,\\", "line 3: the byte list goes on past the end of the file"},
        {"\"ok\"=\"x\"\n\n\"bad\"=", "line 5: the data must be a quoted text"},
    };
    for (const Case& c : cases) {
        MemorySettingsStore store;
        std::string error;
        ASSERT_TRUE(store.load(kUser, "REGEDIT4\n[HKEY_CURRENT_USER\\Kept]\n", error));
        EXPECT_FALSE(store.load(kUser, "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n" + c.body, error))
            << c.body;
        EXPECT_TRUE(error.starts_with(c.error)) << c.body << "\n" << error;
        EXPECT_TRUE(store.keyExists(kUser, "Kept")) << c.body;
    }
    MemorySettingsStore store;
    std::string error;
    EXPECT_FALSE(store.load(kUser, "\n; x\nREGEDIT5\n", error));
    EXPECT_EQ(error, "line 3: the file does not start with REGEDIT4");
    EXPECT_FALSE(store.load(kUser, "REGEDIT4\n\"v\"=\"x\"\n", error));
    EXPECT_EQ(error, "line 2: a value comes before any key");
}

// ---- behaviour shared by the file store and the fake ----

class SettingsStoreTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (GetParam() == "File") {
            m_store = std::make_unique<FileSettingsStore>(m_folder.path() + "/config");
        } else {
            m_store = std::make_unique<MemorySettingsStore>();
        }
    }
    void set(std::string_view key, std::string_view name, std::string_view text) {
        std::string error;
        ASSERT_TRUE(m_store->setString(kUser, key, name, text, error)) << error;
    }
    ScratchFolder m_folder;
    std::unique_ptr<SettingsStore> m_store;
};

INSTANTIATE_TEST_SUITE_P(Stores, SettingsStoreTest, ::testing::Values("File", "Memory"),
                         [](const auto& info) { return info.param; });

TEST_P(SettingsStoreTest, CreatingAKeyCreatesItsParentsAndTellsWhetherItWasNew) {
    SettingsStore& store = *m_store;
    std::string error;
    bool created = false;
    EXPECT_FALSE(store.keyExists(kUser, "Software\\Orrin.Tadd\\Paginor"));
    ASSERT_TRUE(store.createKey(kUser, "Software\\Orrin.Tadd\\Paginor\\PageSetup", created, error))
        << error;
    EXPECT_TRUE(created);
    for (const char* key : {"", "Software", "software\\ORRIN.TADD", "Software\\Orrin.Tadd\\Paginor",
                            "SOFTWARE\\Orrin.Tadd\\Paginor\\pagesetup"}) {
        EXPECT_TRUE(store.keyExists(kUser, key)) << key;
    }
    EXPECT_FALSE(store.keyExists(kUser, "Software\\Orrin.Tadd\\Tabulan"));
    ASSERT_TRUE(store.createKey(kUser, "software\\orrin.tadd\\paginor\\PAGESETUP", created, error));
    EXPECT_FALSE(created);
    ASSERT_TRUE(store.createKey(kUser, "SOFTWARE\\orrin.tadd\\Tabulan", created, error));
    EXPECT_TRUE(created);
    std::optional<SettingsKeyContents> contents = store.enumerate(kUser, "Software\\Orrin.Tadd");
    ASSERT_TRUE(contents);
    EXPECT_EQ(contents->subkeys, (std::vector<std::string>{"Paginor", "Tabulan"}));
    EXPECT_TRUE(contents->values.empty());
    EXPECT_EQ(store.enumerate(kUser, "")->subkeys, std::vector<std::string>{"Software"});
}

TEST_P(SettingsStoreTest, EachReaderAnswersOnlyForItsType) {
    SettingsStore& store = *m_store;
    std::string error;
    const std::string key = "Software\\Orrin.Tadd\\Paginor";
    ASSERT_TRUE(store.setString(kUser, key, "style", "body { }", error));
    ASSERT_TRUE(store.setDword(kUser, key, "leftbarwidth", 0x3c, error));
    ASSERT_TRUE(store.setBinary(kUser, key, "EditFlags", std::string("\0\1\0\0", 4), error));
    ASSERT_TRUE(
        store.setValue(kUser, key, "multi", {SettingsType{7}, std::string("a\0\0", 3)}, error));
    struct Case {
        const char* name;
        std::optional<std::string> text;
        std::optional<std::uint32_t> number;
        std::optional<std::string> bytes;
    } cases[] = {
        {"STYLE", "body { }", std::nullopt, std::nullopt},
        {"LeftBarWidth", std::nullopt, 0x3c, std::nullopt},
        {"editflags", std::nullopt, std::nullopt, std::string("\0\1\0\0", 4)},
        {"multi", std::nullopt, std::nullopt, std::nullopt},
        {"absent", std::nullopt, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(store.readString(kUser, key, c.name), c.text) << c.name;
        EXPECT_EQ(store.readDword(kUser, key, c.name), c.number) << c.name;
        EXPECT_EQ(store.readBinary(kUser, key, c.name), c.bytes) << c.name;
        EXPECT_EQ(store.readString(kUser, "Software\\Absent", c.name), std::nullopt);
    }
    EXPECT_EQ(store.readValue(kUser, key, "Multi"),
              (SettingsValue{SettingsType{7}, std::string("a\0\0", 3)}));
    EXPECT_EQ(store.readValue(kUser, key, "leftbarwidth"),
              (SettingsValue{SettingsType::Dword, std::string("\x3c\0\0\0", 4)}));
    EXPECT_EQ(store.readString(kMachine, key, "style"), std::nullopt);
}

TEST_P(SettingsStoreTest, ABoundedStringMustFitWithItsTerminatingNul) {
    set("K", "v", "12345");
    EXPECT_EQ(m_store->readString(kUser, "K", "v", 7), "12345");
    EXPECT_EQ(m_store->readString(kUser, "K", "v", 6), "12345");
    EXPECT_EQ(m_store->readString(kUser, "K", "v", 5), std::nullopt);
    EXPECT_EQ(m_store->readString(kUser, "K", "v", 0), std::nullopt);
}

TEST_P(SettingsStoreTest, NamesKeepTheirFirstSpellingAndValuesTheirOrder) {
    set("Software\\Orrin", "version", "1.0.0");
    set("SOFTWARE\\orrin", "Style", "a");
    set("software\\ORRIN", "STYLE", "b");
    set("Software\\Orrin", "", "default");
    set("Software\\Orrin", "VERSION", "1.4.9");
    set("Software\\Orrin\\beta", "x", "");
    set("Software\\Orrin\\Alpha", "x", "");
    set("Software\\Orrin\\gamma", "x", "");
    std::optional<SettingsKeyContents> contents = m_store->enumerate(kUser, "software\\orrin");
    ASSERT_TRUE(contents);
    EXPECT_EQ(contents->values, (std::vector<SettingsNamedValue>{
                                    {"version", {SettingsType::String, "1.4.9"}},
                                    {"Style", {SettingsType::String, "b"}},
                                    {"", {SettingsType::String, "default"}},
                                }));
    EXPECT_EQ(contents->subkeys, (std::vector<std::string>{"Alpha", "beta", "gamma"}));
    EXPECT_EQ(m_store->enumerate(kUser, "Software")->subkeys, std::vector<std::string>{"Orrin"});
    EXPECT_EQ(m_store->enumerate(kUser, "Software\\Absent"), std::nullopt);
}

TEST_P(SettingsStoreTest, DeletingValuesKeysAndTrees) {
    SettingsStore& store = *m_store;
    std::string error;
    set("A\\B\\C", "v", "1");
    set("A\\B", "v", "2");
    set("A", "keep", "3");

    EXPECT_TRUE(store.deleteValue(kUser, "a\\b", "V", error)) << error;
    EXPECT_EQ(store.readString(kUser, "A\\B", "v"), std::nullopt);
    EXPECT_TRUE(store.deleteValue(kUser, "A\\B", "v", error)) << "a missing value is no error";
    EXPECT_TRUE(store.deleteValue(kUser, "A\\Absent", "v", error));

    EXPECT_FALSE(store.deleteKey(kUser, "A\\B", error));
    EXPECT_EQ(error, "cannot delete HKEY_CURRENT_USER\\A\\B: the key has subkeys");
    EXPECT_TRUE(store.keyExists(kUser, "A\\B\\C"));
    EXPECT_TRUE(store.deleteKey(kUser, "A\\B\\c", error)) << error;
    EXPECT_FALSE(store.keyExists(kUser, "A\\B\\C"));
    EXPECT_TRUE(store.keyExists(kUser, "A\\B"));

    set("A\\B\\C\\D", "v", "4");
    EXPECT_TRUE(store.deleteTree(kUser, "a\\B", error)) << error;
    EXPECT_FALSE(store.keyExists(kUser, "A\\B"));
    EXPECT_EQ(store.readString(kUser, "A", "keep"), "3");
    EXPECT_TRUE(store.deleteTree(kUser, "A\\B", error)) << "a missing tree is no error";
    EXPECT_TRUE(store.deleteKey(kUser, "Absent\\X", error));

    for (const char* root : {"", "\\"}) {
        EXPECT_FALSE(store.deleteTree(kUser, root, error)) << root;
        EXPECT_FALSE(store.deleteKey(kUser, root, error)) << root;
    }
    EXPECT_EQ(store.readString(kUser, "A", "keep"), "3");
}

TEST_P(SettingsStoreTest, InvalidNamesAreRefusedAndChangeNothing) {
    SettingsStore& store = *m_store;
    struct Case {
        std::string key;
        std::string name;
        std::string error;
    } cases[] = {
        {"\\A", "v", "invalid key path \"\\A\": a key name is empty"},
        {"A\\", "v", "invalid key path \"A\\\": a key name is empty"},
        {"A\\\\B", "v", "invalid key path \"A\\\\B\": a key name is empty"},
        {std::string(256, 'k'), "v", "a key name is longer than 255 bytes"},
        {"caf\xC3\xA9", "v", "invalid key path \"caf\\xc3\\xa9\": a key name holds a byte that"},
        {"A\tB", "v", "a key name holds a byte that is not printable ASCII"},
        {"A", "line\nbreak", "invalid value name \"line\\x0abreak\": the name holds a byte"},
        {"A", std::string(16384, 'n'), "the name is longer than 16383 bytes"},
    };
    for (const Case& c : cases) {
        std::string error;
        bool created = true;
        EXPECT_FALSE(store.setString(kUser, c.key, c.name, "x", error)) << c.key;
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
        EXPECT_FALSE(store.deleteValue(kUser, c.key, c.name, error)) << c.key;
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
        EXPECT_EQ(store.readString(kUser, c.key, c.name), std::nullopt);
        if (c.name == "v") {
            EXPECT_FALSE(store.createKey(kUser, c.key, created, error)) << c.key;
            EXPECT_FALSE(created);
            EXPECT_FALSE(store.deleteTree(kUser, c.key, error)) << c.key;
            EXPECT_FALSE(store.keyExists(kUser, c.key));
        }
    }
    std::optional<SettingsKeyContents> root = store.enumerate(kUser, "");
    ASSERT_TRUE(root);
    EXPECT_TRUE(root->values.empty());
    EXPECT_TRUE(root->subkeys.empty());
    std::string error;
    EXPECT_TRUE(store.setString(kUser, std::string(255, 'k'), std::string(16383, 'n'), "x", error))
        << error;
}

TEST_P(SettingsStoreTest, TheMachineHiveIsReadOnly) {
    SettingsStore& store = *m_store;
    std::string error;
    bool created = false;
    EXPECT_FALSE(store.setString(kMachine, "Software\\X", "v", "x", error));
    EXPECT_EQ(error, "HKEY_LOCAL_MACHINE is read-only");
    EXPECT_FALSE(store.createKey(kMachine, "Software\\X", created, error));
    EXPECT_FALSE(store.deleteTree(kMachine, "Software", error));
    EXPECT_FALSE(store.keyExists(kMachine, "Software"));
    EXPECT_EQ(store.hiveProblem(kMachine), "");
}

TEST_P(SettingsStoreTest, ThreadsWritingAtOnceKeepEveryValue) {
    constexpr int kThreads = 4;
    constexpr int kWrites = 25;
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this, t, &failures] {
            for (int i = 0; i < kWrites; ++i) {
                std::string error;
                std::string name = "t" + std::to_string(t) + "v" + std::to_string(i);
                failures[t] += m_store->setDword(kUser, "Race", name, i, error) ? 0 : 1;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
    std::optional<SettingsKeyContents> contents = m_store->enumerate(kUser, "Race");
    ASSERT_TRUE(contents);
    EXPECT_EQ(contents->values.size(), std::size_t{kThreads * kWrites});
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kWrites; ++i) {
            std::string name = "t" + std::to_string(t) + "v" + std::to_string(i);
            EXPECT_EQ(m_store->readDword(kUser, "Race", name), std::uint32_t(i)) << name;
        }
    }
}

// ---- the file store ----

class FileSettingsStoreTest : public ::testing::Test {
protected:
    std::string folder() const { return m_scratch.path() + "/config"; }
    std::string userFile() const { return folder() + "/HKEY_CURRENT_USER.reg"; }
    ScratchFolder m_scratch;
    FileSettingsStore m_store{m_scratch.path() + "/config"};
};

TEST_F(FileSettingsStoreTest, ValuesSurviveByteExactInAnAsciiFile) {
    std::string everyByte;
    for (int c = 1; c < 256; ++c) {
        everyByte += static_cast<char>(c);
    }
    std::string allBytes = std::string(1, '\0') + everyByte;
    const std::string key = "Software\\Orrin.Tadd\\Paginor";
    struct Case {
        const char* name;
        SettingsValue value;
    } cases[] = {
        {"plain", {SettingsType::String, "C:\\Tabulan \"x\"; [y] @=z"}},
        {"password", {SettingsType::String, "A\r\nB\xE9\x7F"}},
        {"every byte", {SettingsType::String, everyByte}},
        {"inner nul", {SettingsType::String, std::string("a\0b\0", 4)}},
        {"empty", {SettingsType::String, ""}},
        {"binary", {SettingsType::Binary, allBytes + allBytes}},
        {"no bytes", {SettingsType::Binary, ""}},
        {"zero", {SettingsType::Dword, std::string(4, '\0')}},
        {"all ones", {SettingsType::Dword, std::string(4, '\xFF')}},
        {"expandable", {SettingsType{2}, std::string("%HOME%\0", 7)}},
    };
    std::string error;
    for (const Case& c : cases) {
        ASSERT_TRUE(m_store.setValue(kUser, key, c.name, c.value, error)) << error;
    }
    bool created = false;
    ASSERT_TRUE(m_store.createKey(kUser, key + "\\PageSetup", created, error));

    FileSettingsStore again(folder());
    for (const Case& c : cases) {
        EXPECT_EQ(again.readValue(kUser, key, c.name), c.value) << c.name;
    }
    EXPECT_TRUE(again.keyExists(kUser, key + "\\PageSetup"));
    std::string file = readFile(userFile());
    EXPECT_TRUE(file.starts_with("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n")) << file;
    EXPECT_NE(file.find("\n\"password\"=hex(1):41,0d,0a,42,e9,7f,00\n"), std::string::npos);
    EXPECT_NE(file.find("\n\"plain\"=\"C:\\\\Tabulan \\\"x\\\"; [y] @=z\"\n"), std::string::npos);
    EXPECT_TRUE(std::all_of(file.begin(), file.end(),
                            [](char c) { return c == '\n' || (c >= 0x20 && c <= 0x7E); }));
    std::istringstream lines(file);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LE(line.size(), 80U) << line;
    }
}

TEST_F(FileSettingsStoreTest, FilesAndFoldersArePrivateAndNoTemporaryFileStays) {
    FileSettingsStore nested(m_scratch.path() + "/a/b");
    std::string error;
    ASSERT_TRUE(nested.setString(kUser, "K", "v", "x", error)) << error;
    ASSERT_TRUE(nested.setString(kUser, "K", "w", "y", error)) << error;
    EXPECT_EQ(permissions(m_scratch.path() + "/a/b"), 0700U);
    EXPECT_EQ(permissions(m_scratch.path() + "/a/b/HKEY_CURRENT_USER.reg"), 0600U);
    EXPECT_EQ(permissions(m_scratch.path() + "/a/b/HKEY_CURRENT_USER.reg.lock"), 0600U);
    EXPECT_EQ(folderEntries(m_scratch.path() + "/a/b"),
              (std::vector<std::string>{"HKEY_CURRENT_USER.reg", "HKEY_CURRENT_USER.reg.lock"}));
}

TEST_F(FileSettingsStoreTest, ReadingNeverCreatesAFile) {
    EXPECT_FALSE(m_store.keyExists(kUser, "Software"));
    EXPECT_EQ(m_store.readString(kUser, "Software", "v"), std::nullopt);
    EXPECT_EQ(m_store.hiveProblem(kUser), "");
    EXPECT_EQ(folderEntries(m_scratch.path()), std::vector<std::string>{});
    std::string error;
    EXPECT_TRUE(m_store.deleteValue(kUser, "Software", "v", error)) << error;
    EXPECT_EQ(folderEntries(folder()), std::vector<std::string>{"HKEY_CURRENT_USER.reg.lock"});
}

TEST_F(FileSettingsStoreTest, ACorruptFileIsReportedAndNeverRewritten) {
    std::string error;
    ASSERT_TRUE(m_store.setString(kUser, "Software\\X", "v", "x", error)) << error;
    const std::string corrupt =
        "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\X]\n\"v\"=\"x\n\"w\"=dword:00000001\n";
    writeFile(userFile(), corrupt);
    const std::string expected = userFile() + ": line 3: the text has no closing quote";
    EXPECT_EQ(m_store.hiveProblem(kUser), expected);
    EXPECT_FALSE(m_store.keyExists(kUser, "Software\\X"));
    EXPECT_EQ(m_store.readDword(kUser, "Software\\X", "w"), std::nullopt);

    bool created = false;
    EXPECT_FALSE(m_store.setString(kUser, "Software\\X", "v", "y", error));
    EXPECT_EQ(error, expected);
    error.clear();
    EXPECT_FALSE(m_store.createKey(kUser, "Software\\Y", created, error));
    EXPECT_EQ(error, expected);
    error.clear();
    EXPECT_FALSE(m_store.deleteTree(kUser, "Software", error));
    EXPECT_EQ(error, expected);
    error.clear();
    EXPECT_FALSE(m_store.deleteValue(kUser, "Software\\X", "absent", error));
    EXPECT_EQ(error, expected);
    EXPECT_EQ(readFile(userFile()), corrupt);
}

TEST_F(FileSettingsStoreTest, AHiveThatIsNoFileIsReported) {
    ASSERT_EQ(mkdir(folder().c_str(), 0700), 0);
    ASSERT_EQ(mkdir(userFile().c_str(), 0700), 0);
    EXPECT_EQ(m_store.hiveProblem(kUser), userFile() + ": not a regular file");
    std::string error;
    EXPECT_FALSE(m_store.setString(kUser, "K", "v", "x", error));
    EXPECT_EQ(error, userFile() + ": not a regular file");

    FileSettingsStore blocked(userFile() + "/sub/inside");
    writeFile(userFile() + "/sub", "a file where a folder belongs");
    EXPECT_FALSE(blocked.setString(kUser, "K", "v", "x", error));
    EXPECT_NE(error.find(userFile() + "/sub/inside: "), std::string::npos) << error;
}

TEST_F(FileSettingsStoreTest, TheFileSizeIsCapped) {
    ASSERT_EQ(mkdir(folder().c_str(), 0700), 0);
    const std::string start = "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n;";
    std::string atCap = start + std::string(kMaxSettingsFileBytes - start.size() - 1, 'x') + "\n";
    writeFile(userFile(), atCap);
    EXPECT_EQ(m_store.hiveProblem(kUser), "");
    EXPECT_TRUE(m_store.keyExists(kUser, "K"));
    writeFile(userFile(), atCap + "\n");
    EXPECT_EQ(m_store.hiveProblem(kUser),
              userFile() + ": larger than " + std::to_string(kMaxSettingsFileBytes) + " bytes");

    writeFile(userFile(), "REGEDIT4\n");
    std::string error;
    EXPECT_FALSE(
        m_store.setBinary(kUser, "K", "big", std::string(kMaxSettingsFileBytes / 3, 'b'), error));
    EXPECT_EQ(error, userFile() + ": the settings would take more than " +
                         std::to_string(kMaxSettingsFileBytes) + " bytes");
    EXPECT_EQ(readFile(userFile()), "REGEDIT4\n");
}

TEST_F(FileSettingsStoreTest, TheMachineHiveIsReadFromItsOwnFile) {
    ASSERT_EQ(mkdir(folder().c_str(), 0700), 0);
    writeFile(
        folder() + "/HKEY_LOCAL_MACHINE.reg",
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Orrin.Tadd\\Paginor]\n\"version\"=\"1.2.0\"\n");
    EXPECT_EQ(m_store.readString(kMachine, "Software\\Orrin.Tadd\\Paginor", "version"), "1.2.0");
    EXPECT_EQ(m_store.readString(kUser, "Software\\Orrin.Tadd\\Paginor", "version"), std::nullopt);
    std::string error;
    EXPECT_FALSE(m_store.deleteTree(kMachine, "Software\\Orrin.Tadd\\Paginor", error));
    EXPECT_TRUE(m_store.keyExists(kMachine, "Software\\Orrin.Tadd\\Paginor"));
}

TEST_F(FileSettingsStoreTest, TheDefaultFolderIsInTheConfigurationHome) {
    const char* saved = getenv("XDG_CONFIG_HOME");
    std::string previous = saved != nullptr ? saved : "";
    setenv("XDG_CONFIG_HOME", (m_scratch.path() + "/xdg").c_str(), 1);
    FileSettingsStore store;
    std::string error;
    EXPECT_TRUE(store.setDword(kUser, "Software\\Orrin.Tadd\\Paginor", "e", 20210105, error))
        << error;
    EXPECT_EQ(FileSettingsStore(m_scratch.path() + "/xdg/paginor")
                  .readDword(kUser, "Software\\Orrin.Tadd\\Paginor", "e"),
              20210105U);
    EXPECT_EQ(permissions(m_scratch.path() + "/xdg/paginor"), 0700U);
    if (saved != nullptr) {
        setenv("XDG_CONFIG_HOME", previous.c_str(), 1);
    } else {
        unsetenv("XDG_CONFIG_HOME");
    }
}

TEST_F(FileSettingsStoreTest, ReadsTheDialectOfHandWrittenFiles) {
    ASSERT_EQ(mkdir(folder().c_str(), 0700), 0);
    // The reader's own dialect: byte order mark, CRLF, repeated names, a kept backslash.
    writeFile(userFile(),
              "\xEF\xBB\xBFREGEDIT4\r\n"
              "[HKEY_CURRENT_USER\\Software\\Orrin.Tadd\\Tabulan]\r\n"
              "\"basedir\"=\"C:\\\\Tabulan\\\\ \\\"x\\\" \\n\"\r\n"
              "\"twice\"=\"first\"\r\n"
              "\"twice\"=\"second\"\r\n"
              "\"retyped\"=\"text\"\r\n"
              "\"retyped\"=hex:01,02\r\n"
              "\"count\"=dword:00000003\r\n"
              "[hkey_current_user\\SOFTWARE\\orrin.tadd\\tabulan]\r\n"
              "\"later\"=\"merged\"\r\n");
    std::string error;
    ASSERT_TRUE(
        m_store.setString(kUser, "Software\\Orrin.Tadd\\Tabulan", "written", "a\\b\"c", error))
        << error;
    const SettingsReader& reader = m_store;
    EXPECT_EQ(reader.readString(kUser, "software\\orrin.tadd\\tabulan", "basedir"),
              "C:\\Tabulan\\ \"x\" \\n");
    EXPECT_EQ(reader.readString(kUser, "Software\\Orrin.Tadd\\Tabulan", "twice"), "second");
    EXPECT_EQ(reader.readString(kUser, "Software\\Orrin.Tadd\\Tabulan", "retyped"), std::nullopt);
    EXPECT_EQ(reader.readString(kUser, "Software\\Orrin.Tadd\\Tabulan", "count"), std::nullopt);
    EXPECT_EQ(reader.readString(kUser, "Software\\Orrin.Tadd\\Tabulan", "later"), "merged");
    EXPECT_EQ(reader.readString(kUser, "Software\\Orrin.Tadd\\Tabulan", "written"), "a\\b\"c");
}

TEST_F(FileSettingsStoreTest, ProcessesWritingAtOnceKeepEveryValue) {
    constexpr int kProcesses = 4;
    constexpr int kWrites = 25;
    constexpr int kReads = 100;
    std::string error;
    ASSERT_TRUE(m_store.setString(kUser, "Race", "before", "kept", error)) << error;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            FileSettingsStore store(folder());
            int failures = 0;
            for (int i = 0; i < kWrites; ++i) {
                std::string name = "p" + std::to_string(p) + "v" + std::to_string(i);
                failures += store.setDword(kUser, "Race", name, i, error) ? 0 : 1;
            }
            _exit(failures == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    int badReads = 0;
    for (int i = 0; i < kReads; ++i) {
        badReads += m_store.hiveProblem(kUser).empty() &&
                            m_store.readString(kUser, "Race", "before") == "kept"
                        ? 0
                        : 1;
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    EXPECT_EQ(badReads, 0);
    std::optional<SettingsKeyContents> contents = m_store.enumerate(kUser, "Race");
    ASSERT_TRUE(contents);
    EXPECT_EQ(contents->values.size(), std::size_t{kProcesses * kWrites + 1});
    for (int p = 0; p < kProcesses; ++p) {
        for (int i = 0; i < kWrites; ++i) {
            std::string name = "p" + std::to_string(p) + "v" + std::to_string(i);
            EXPECT_EQ(m_store.readDword(kUser, "Race", name), std::uint32_t(i)) << name;
        }
    }
    EXPECT_EQ(folderEntries(folder()),
              (std::vector<std::string>{"HKEY_CURRENT_USER.reg", "HKEY_CURRENT_USER.reg.lock"}));
}

// ---- the fake ----

TEST(MemorySettingsStore, LoadsEitherHiveAndCanFailWrites) {
    MemorySettingsStore store;
    std::string error;
    ASSERT_TRUE(store.load(kMachine,
                           "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Orrin.Tadd\\Paginor]\n"
                           "\"keywords\"=\"a\\tb\"\n",
                           error))
        << error;
    EXPECT_EQ(store.readString(kMachine, "Software\\Orrin.Tadd\\Paginor", "keywords"), "a\\tb");
    ASSERT_TRUE(store.setString(kUser, "Software\\Orrin.Tadd\\Paginor", "version", "1.4.9", error));
    store.failWrites("disk full");
    EXPECT_FALSE(store.setString(kUser, "Software\\Orrin.Tadd\\Paginor", "version", "2", error));
    EXPECT_EQ(error, "disk full");
    EXPECT_EQ(store.readString(kUser, "Software\\Orrin.Tadd\\Paginor", "version"), "1.4.9");
    store.failWrites("");
    EXPECT_TRUE(store.setString(kUser, "Software\\Orrin.Tadd\\Paginor", "version", "2", error));
    EXPECT_EQ(
        store.text(kUser),
        "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n\n[HKEY_CURRENT_USER\\Software\\Orrin.Tadd]"
        "\n\n[HKEY_CURRENT_USER\\Software\\Orrin.Tadd\\Paginor]\n\"version\"=\"2\"\n");
}

}  // namespace
}  // namespace paginor
