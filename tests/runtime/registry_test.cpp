// The registry file: round trips, case-insensitive keys, re-reading on change, atomic writes,
// and a corrupt or unreadable file set aside without ever being overwritten.
#include <gtest/gtest.h>
#include <vantor/registry.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

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
    const char* corrupt[] = {
        "[HKEY_CLASSES_ROOT\\A]\nnot a value\n",
        "@=\"value before any key\"\n",
        "[HKEY_NOWHERE\\A]\n",
        "[HKEY_CLASSES_ROOT\\A]\n\"x\"=\"unterminated\n",
        "[HKEY_CLASSES_ROOT\\A]\n\"x\"=dword:123456789\n",
        "[HKEY_CLASSES_ROOT\\A\\\\B]\n",
        "[HKEY_CLASSES_ROOT\\A]\n\"x\"=\"bad \\q escape\"\n",
    };
    for (const char* text : corrupt) {
        write_file(text);
        EXPECT_EQ(get(HKEY_CLASSES_ROOT, "A"), "<no key>") << text;
        char problem[256];
        EXPECT_GT(VantorRegistryProblem(problem, sizeof problem), 0u) << text;
        EXPECT_EQ(set(HKEY_CLASSES_ROOT, "New", "", "v"), ERROR_BADDB) << text;
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
    RegCloseKey(k);
}

}  // namespace
