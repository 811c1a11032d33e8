// The registry file: round trips, case-insensitive keys, re-reading on change, atomic writes,
// and a corrupt or unreadable file set aside without ever being overwritten.
#include <gtest/gtest.h>
#include <vantor/registry.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

// `levels` keys named `name`, each under the one before: "k\\k\\k".
std::string chain(size_t levels, const std::string& name = "k") {
    std::string s;
    for (size_t i = 0; i < levels; ++i) s += (i ? "\\" : "") + name;
    return s;
}

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = ::testing::TempDir() + "registry_test_" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::remove(path_.c_str());
        setenv("VANTOR_REGISTRY", path_.c_str(), 1);
    }
    void TearDown() override { std::remove(path_.c_str()); }

    std::string file() const {
        std::ifstream in(path_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void write_file(const std::string& text) const {
        std::ofstream out(path_);
        out << text;
    }
    static LONG set(HKEY root, const char* key, const char* name, const char* value) {
        HKEY k;
        LONG e = RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
        if (e != ERROR_SUCCESS) return e;
        e = RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), static_cast<DWORD>(std::strlen(value) + 1));
        RegCloseKey(k);
        return e;
    }
    static std::string get(HKEY root, const char* key, const char* name = "") {
        HKEY k;
        if (RegOpenKeyExA(root, key, 0, KEY_READ, &k) != ERROR_SUCCESS) return "<no key>";
        char buf[256];
        DWORD size = sizeof buf, type = 0;
        LONG e = RegQueryValueExA(k, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
        RegCloseKey(k);
        return e == ERROR_SUCCESS ? std::string(buf) : "<no value>";
    }

    std::string path_;
};

TEST_F(RegistryTest, ValuesRoundTripThroughTheFileWithTheirCase) {
    ASSERT_EQ(set(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\DirectX", "DXSDK Samples Path", "/data/a \"b\"\\c"), ERROR_SUCCESS);
    HKEY k;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Numbers", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr), ERROR_SUCCESS);
    DWORD n = 0xDEADBEEF;
    ASSERT_EQ(RegSetValueExA(k, "Count", 0, REG_DWORD, reinterpret_cast<BYTE*>(&n), 4), ERROR_SUCCESS);
    RegCloseKey(k);
    EXPECT_NE(file().find("[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\DirectX]"), std::string::npos) << file();
    EXPECT_NE(file().find("\"DXSDK Samples Path\"=\"/data/a \\\"b\\\"\\\\c\""), std::string::npos) << file();
    EXPECT_NE(file().find("\"Count\"=dword:deadbeef"), std::string::npos);

    // Key and value names are case-insensitive, as on Windows.
    EXPECT_EQ(get(HKEY_LOCAL_MACHINE, "SOFTWARE\\microsoft\\directx", "dxsdk samples path"), "/data/a \"b\"\\c");
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "numbers", 0, KEY_READ, &k), ERROR_SUCCESS);
    DWORD type = 0, size = 4, got = 0;
    EXPECT_EQ(RegQueryValueExA(k, "COUNT", nullptr, &type, reinterpret_cast<BYTE*>(&got), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(got, 0xDEADBEEFu);
    // A buffer too small is told the size it needs.
    char small[2];
    size = sizeof small;
    RegCloseKey(k);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\DirectX", 0, KEY_READ, &k), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(k, "DXSDK Samples Path", nullptr, &type, reinterpret_cast<BYTE*>(small), &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 14u);
    RegCloseKey(k);
}

TEST_F(RegistryTest, ChangesByAnotherWriterAreSeen) {
    ASSERT_EQ(set(HKEY_CLASSES_ROOT, "A", "", "one"), ERROR_SUCCESS);
    write_file("; edited by hand\n[HKEY_CLASSES_ROOT\\A]\n@=\"two\"\n\n[HKEY_CLASSES_ROOT\\A\\B\\C]\n");
    EXPECT_EQ(get(HKEY_CLASSES_ROOT, "A"), "two");
    EXPECT_EQ(get(HKEY_CLASSES_ROOT, "A\\B\\C"), "<no value>") << "an empty key exists without values";
    EXPECT_EQ(get(HKEY_CLASSES_ROOT, "A\\B"), "<no value>") << "keys above a listed key exist";
}

TEST_F(RegistryTest, DeletingKeysFollowsWindowsRules) {
    ASSERT_EQ(set(HKEY_CLASSES_ROOT, "P\\Q\\R", "", "x"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "P"), ERROR_ACCESS_DENIED) << "a key with subkeys";
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "P\\Q\\R"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "P\\Q\\R"), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(set(HKEY_CLASSES_ROOT, "P\\Q\\S", "", "y"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "P"), ERROR_SUCCESS);
    EXPECT_EQ(get(HKEY_CLASSES_ROOT, "P"), "<no key>");
    EXPECT_EQ(file().find("[HKEY_CLASSES_ROOT\\P"), std::string::npos);
}

TEST_F(RegistryTest, EnumeratesSubkeysInNameOrder) {
    for (const char* name : {"b", "A", "c"}) ASSERT_EQ(set(HKEY_CLASSES_ROOT, (std::string("E\\") + name).c_str(), "", "v"), ERROR_SUCCESS);
    HKEY k;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "E", 0, KEY_READ, &k), ERROR_SUCCESS);
    std::string names;
    char name[16];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(k, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names += name;
    }
    RegCloseKey(k);
    EXPECT_EQ(names, "Abc");
}

TEST_F(RegistryTest, CorruptFilesAreReportedTreatedAsEmptyAndNeverOverwritten) {
    const std::string corrupt[] = {
        "[HKEY_CLASSES_ROOT\\A]\nnot a value\n",
        "@=\"value before any key\"\n",
        "[HKEY_NOWHERE\\A]\n",
        "[HKEY_CLASSES_ROOT\\A]\n\"x\"=\"unterminated\n",
        "[HKEY_CLASSES_ROOT\\A]\n\"x\"=dword:123456789\n",
        "[HKEY_CLASSES_ROOT\\A\\\\B]\n",
        "[HKEY_CLASSES_ROOT\\A]\n\"x\"=\"bad \\q escape\"\n",
        "[HKEY_CLASSES_ROOT\\" + chain(30000, "A") + "]\n@=\"deep\"\n",  // deeper than keys may go
        "[HKEY_CLASSES_ROOT\\A" + std::string(40000, 'w') + "]\n",          // longer than a key name may be
    };
    for (const std::string& text : corrupt) {
        SCOPED_TRACE(text.substr(0, 40));
        write_file(text);
        EXPECT_EQ(get(HKEY_CLASSES_ROOT, "A"), "<no key>");
        char problem[256];
        EXPECT_GT(VantorRegistryProblem(problem, sizeof problem), 0u);
        EXPECT_EQ(set(HKEY_CLASSES_ROOT, "New", "", "v"), ERROR_BADDB);
        EXPECT_EQ(file(), text) << "a file that could not be parsed is never overwritten";
    }
    // Once the file is mended, it is used again.
    write_file("[HKEY_CLASSES_ROOT\\A]\n@=\"fine\"\n");
    EXPECT_EQ(get(HKEY_CLASSES_ROOT, "A"), "fine");
    char problem[256];
    EXPECT_EQ(VantorRegistryProblem(problem, sizeof problem), 0u);
}

TEST_F(RegistryTest, UnreadableFileIsSetAsideToo) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
    write_file("[HKEY_CLASSES_ROOT\\A]\n@=\"x\"\n");
    chmod(path_.c_str(), 0);
    EXPECT_EQ(get(HKEY_CLASSES_ROOT, "A"), "<no key>");
    EXPECT_EQ(set(HKEY_CLASSES_ROOT, "B", "", "v"), ERROR_BADDB);
    chmod(path_.c_str(), 0644);
}

TEST_F(RegistryTest, BogusHandlesAndArgumentsAreRefused) {
    HKEY bogus = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1234));
    HKEY k;
    EXPECT_EQ(RegOpenKeyExA(bogus, "A", 0, KEY_READ, &k), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(bogus), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "A", 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "A\\\\B", 0, nullptr, 0, 0, nullptr, &k, nullptr), ERROR_INVALID_PARAMETER);
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "A", 0, nullptr, 0, 0, nullptr, &k, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(k, "n", 0, REG_DWORD, reinterpret_cast<const BYTE*>("ab"), 2), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExA(k, "n", 0, 3 /* REG_BINARY */, reinterpret_cast<const BYTE*>("ab"), 2), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExA(k, "n", 0, REG_SZ, reinterpret_cast<const BYTE*>("a\0b"), 4), ERROR_INVALID_PARAMETER)
        << "text after a NUL would be lost";
    EXPECT_EQ(RegSetValueExA(k, "n", 0, REG_SZ, reinterpret_cast<const BYTE*>("ab\0\0"), 5), ERROR_SUCCESS);
    RegCloseKey(k);
}

// Writers in two processes, each adding its own values: the file ends with every one of them.
TEST_F(RegistryTest, ConcurrentWritersInTwoProcessesLoseNothing) {
    constexpr int kWrites = 500;
    pid_t children[2];
    for (int p = 0; p < 2; ++p) {
        children[p] = fork();
        ASSERT_GE(children[p], 0);
        if (children[p] == 0) {
            int failures = 0;
            for (int i = 0; i < kWrites; ++i) {
                std::string name = "p" + std::to_string(p) + "_" + std::to_string(i);
                if (set(HKEY_CURRENT_USER, "Shared", name.c_str(), "v") != ERROR_SUCCESS) ++failures;
            }
            _exit(failures ? 1 : 0);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a write reported failure";
    }
    int missing = 0;
    for (int p = 0; p < 2; ++p)
        for (int i = 0; i < kWrites; ++i) {
            std::string name = "p" + std::to_string(p) + "_" + std::to_string(i);
            if (get(HKEY_CURRENT_USER, "Shared", name.c_str()) != "v") ++missing;
        }
    EXPECT_EQ(missing, 0);
}

TEST_F(RegistryTest, KeysBeyondTheSystemLimitsOrWithControlCharactersAreRefused) {
    struct Case {
        std::string key;
        LONG create, open;  // a name no key can have is simply not found
    };
    constexpr LONG kOk = ERROR_SUCCESS, kBad = ERROR_INVALID_PARAMETER, kNone = ERROR_FILE_NOT_FOUND;
    const Case cases[] = {
        {chain(512), kOk, kOk},
        {chain(513), kBad, kBad},
        {chain(30000), kBad, kBad},
        {std::string(32767, 'x'), kOk, kOk},
        {std::string(32768, 'y'), kBad, kBad},
        {chain(300, std::string(120, 'z')), kBad, kBad},  // 300 levels, 36,299 characters
        {"Line\nBreak", kBad, kNone},
        {"Carriage\rReturn", kBad, kNone},
        {"Tab\tbed", kBad, kNone},
        {"Bell\x07", kBad, kNone},
        {"Del\x7F", kBad, kNone},
        {"Latin-1 \xE9t\xE9 and [brackets]", kOk, kOk},
    };
    ASSERT_EQ(set(HKEY_CLASSES_ROOT, "Before", "", "kept"), ERROR_SUCCESS);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key.substr(0, 40));
        EXPECT_EQ(set(HKEY_CLASSES_ROOT, c.key.c_str(), "", "v"), c.create);
        HKEY k;
        EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, c.key.c_str(), 0, KEY_READ, &k), c.open);
        if (c.open == ERROR_SUCCESS) RegCloseKey(k);
    }
    // Every key that was accepted reads back from the file; the file stays readable.
    write_file(file());
    char problem[256];
    EXPECT_EQ(VantorRegistryProblem(problem, sizeof problem), 0u) << problem;
    EXPECT_EQ(get(HKEY_CLASSES_ROOT, "Before"), "kept");
    EXPECT_EQ(get(HKEY_CLASSES_ROOT, chain(512).c_str()), "v");
    EXPECT_EQ(get(HKEY_CLASSES_ROOT, "Latin-1 \xE9t\xE9 and [brackets]"), "v");
    // The deepest key is written once, with its path, not once per level above it.
    EXPECT_LT(file().size(), 3 * 32767u);
}

TEST_F(RegistryTest, ATabAnOlderWriterLetIntoAKeyNameStillReads) {
    write_file("[HKEY_CLASSES_ROOT\\Old\tName]\n@=\"kept\"\n");
    EXPECT_EQ(get(HKEY_CLASSES_ROOT, "Old\tName"), "kept");
    EXPECT_EQ(set(HKEY_CLASSES_ROOT, "Old\tName", "n", "v"), ERROR_SUCCESS) << "an existing key opens";
    EXPECT_EQ(set(HKEY_CLASSES_ROOT, "Old\tName\\Sub", "", "v"), ERROR_SUCCESS) << "and takes new subkeys";
    EXPECT_EQ(set(HKEY_CLASSES_ROOT, "New\tName", "", "v"), ERROR_INVALID_PARAMETER);
    EXPECT_NE(file().find("[HKEY_CLASSES_ROOT\\Old\tName]"), std::string::npos);
}

TEST_F(RegistryTest, ValueDataWithAnyByteAndTheRootsOwnValuesRoundTrip) {
    std::string every;
    for (int c = 1; c < 256; ++c) every.push_back(static_cast<char>(c));
    const std::pair<std::string, std::string> values[] = {
        {"lines", "one\ntwo\r\nthree\n"},
        {"every byte", every},
        {"quotes", "\"\\\"[x]\\n"},
        {"", "default"},
    };
    for (const auto& [name, data] : values) {
        ASSERT_EQ(set(HKEY_LOCAL_MACHINE, "Data", name.c_str(), data.c_str()), ERROR_SUCCESS);
        ASSERT_EQ(set(HKEY_CURRENT_USER, "", name.c_str(), data.c_str()), ERROR_SUCCESS) << "a value of the root itself";
    }
    write_file(file());  // read back from the file, not from memory
    for (const auto& [name, data] : values) {
        EXPECT_EQ(get(HKEY_LOCAL_MACHINE, "Data", name.c_str()), data) << name;
        EXPECT_EQ(get(HKEY_CURRENT_USER, "", name.c_str()), data) << name;
    }
}

TEST_F(RegistryTest, ReplacingTheFileKeepsItsPermissions) {
    ASSERT_EQ(set(HKEY_CLASSES_ROOT, "A", "", "1"), ERROR_SUCCESS);
    for (mode_t mode : {0600, 0640, 0664}) {
        ASSERT_EQ(chmod(path_.c_str(), mode), 0);
        ASSERT_EQ(set(HKEY_CLASSES_ROOT, "A", "n", std::to_string(mode).c_str()), ERROR_SUCCESS);
        struct stat st{};
        ASSERT_EQ(stat(path_.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode);
    }
}

}  // namespace
