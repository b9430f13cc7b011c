// Registry keys: names compared without case but kept as written, the
// 255-character limit, multi-level paths, code page 932 names, deletion and
// handles left on deleted keys.
#include <windows.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "support/platform_fixture.h"

namespace {

class RegistryKeysTest : public PlatformTest {
 protected:
  LSTATUS Open(HKEY parent, const char* path, HKEY* key,
               REGSAM access = KEY_READ) {
    return RegOpenKeyExA(parent, path, 0, access, key);
  }
  bool Exists(HKEY parent, const char* path) {
    HKEY key = nullptr;
    if (Open(parent, path, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
  }
  std::string EnumKey(HKEY key, DWORD index) {
    char name[300];
    DWORD length = sizeof(name);
    if (RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr,
                      nullptr) != ERROR_SUCCESS)
      return "<none>";
    return std::string(name, length);
  }
  DWORD SubkeyCount(HKEY key) {
    DWORD count = 12345;
    EXPECT_EQ(
        RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
        ERROR_SUCCESS);
    return count;
  }
};

// ---- names ----------------------------------------------------------------

TEST_F(RegistryKeysTest, LookupIgnoresCaseAndEnumerationKeepsIt) {
  RegCloseKey(CreateKey(HKEY_CLASSES_ROOT, "MixedCase.Name"));
  HKEY key = nullptr;
  ASSERT_EQ(Open(HKEY_CLASSES_ROOT, "MIXEDCASE.name", &key), ERROR_SUCCESS);
  RegCloseKey(key);
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "mixedcase.NAME", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  RegCloseKey(key);
  EXPECT_EQ(SubkeyCount(HKEY_CLASSES_ROOT), 1u);
  EXPECT_EQ(EnumKey(HKEY_CLASSES_ROOT, 0), "MixedCase.Name");
}

TEST_F(RegistryKeysTest, SubkeysEnumerateInCaseInsensitiveOrder) {
  for (const char* name : {"b", "_x", "C", "a"})
    RegCloseKey(CreateKey(HKEY_CURRENT_USER, name));
  // Upper-cased, "_" (0x5F) sorts after the letters.
  EXPECT_EQ(EnumKey(HKEY_CURRENT_USER, 0), "a");
  EXPECT_EQ(EnumKey(HKEY_CURRENT_USER, 1), "b");
  EXPECT_EQ(EnumKey(HKEY_CURRENT_USER, 2), "C");
  EXPECT_EQ(EnumKey(HKEY_CURRENT_USER, 3), "_x");
  EXPECT_EQ(EnumKey(HKEY_CURRENT_USER, 4), "<none>");
}

// Thousands of subkeys made and removed in random order, in any case, walked
// forwards and backwards between the changes: always the model's order.
TEST_F(RegistryKeysTest, ManySubkeysKeepTheirOrderThroughChanges) {
  HKEY parent = CreateKey(HKEY_CURRENT_USER, "Many");
  std::map<std::string, std::string> model;  // upper-cased name -> name
  auto upper = [](std::string text) {
    for (char& c : text) c = static_cast<char>(toupper(c));
    return text;
  };
  auto walk = [&](bool backwards) {
    ASSERT_EQ(SubkeyCount(parent), model.size());
    std::vector<std::string> expected;
    for (const auto& entry : model) expected.push_back(entry.second);
    for (size_t step = 0; step < expected.size(); ++step) {
      size_t i = backwards ? expected.size() - 1 - step : step;
      ASSERT_EQ(EnumKey(parent, static_cast<DWORD>(i)), expected[i]) << i;
    }
    EXPECT_EQ(EnumKey(parent, static_cast<DWORD>(expected.size())), "<none>");
  };
  std::mt19937 random(7);
  for (int step = 0; step < 12000; ++step) {
    std::string name = "k" + std::to_string(random() % 4000);
    if (random() % 2) name = upper(name);
    unsigned action = random() % 100;
    if (action < 65) {
      RegCloseKey(CreateKey(parent, name.c_str()));
      model.emplace(upper(name), name);
    } else if (action < 98) {
      LSTATUS status = RegDeleteKeyA(parent, name.c_str());
      EXPECT_EQ(status, model.erase(upper(name)) ? ERROR_SUCCESS
                                                 : ERROR_FILE_NOT_FOUND);
    } else if (action == 98 || step % 4 != 0) {
      walk(/*backwards=*/step % 2 == 0);
    } else {
      // A walk while keys come and go before and after where it stands.
      for (size_t i = 0; i < model.size(); i += 1 + random() % 3) {
        ASSERT_EQ(EnumKey(parent, static_cast<DWORD>(i)),
                  std::next(model.begin(), i)->second);
        std::string other = "k" + std::to_string(random() % 4000);
        if (random() % 2) {
          RegCloseKey(CreateKey(parent, other.c_str()));
          model.emplace(upper(other), other);
        } else if (RegDeleteKeyA(parent, other.c_str()) == ERROR_SUCCESS) {
          model.erase(upper(other));
        }
      }
    }
  }
  walk(/*backwards=*/false);
  // Emptied from the front, as a tree is deleted.
  while (!model.empty()) {
    ASSERT_EQ(EnumKey(parent, 0), model.begin()->second);
    ASSERT_EQ(RegDeleteKeyA(parent, model.begin()->second.c_str()),
              ERROR_SUCCESS);
    model.erase(model.begin());
  }
  EXPECT_EQ(SubkeyCount(parent), 0u);
  RegCloseKey(parent);
}

TEST_F(RegistryKeysTest, TreesOfTheFourRootsAreSeparate) {
  RegCloseKey(CreateKey(HKEY_LOCAL_MACHINE, "OnlyHere"));
  EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, "OnlyHere"));
  EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, "OnlyHere"));
  EXPECT_FALSE(Exists(HKEY_CURRENT_USER, "OnlyHere"));
  EXPECT_FALSE(Exists(HKEY_USERS, "OnlyHere"));
}

TEST_F(RegistryKeysTest, NameOf255CharactersIsTheLimit) {
  std::string longest(255, 'k');
  RegCloseKey(CreateKey(HKEY_CLASSES_ROOT, longest.c_str()));
  EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, longest.c_str()));
  std::string tooLong(256, 'k');
  HKEY key = reinterpret_cast<HKEY>(1);
  EXPECT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, ("a\\" + tooLong).c_str(), 0,
                            nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(key, nullptr);
  EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, "a"));  // no partial path
  EXPECT_EQ(Open(HKEY_CLASSES_ROOT, tooLong.c_str(), &key),
            ERROR_INVALID_PARAMETER);
}

// ---- paths ------------------------------------------------------------------

TEST_F(RegistryKeysTest, KeysLieAtMost512LevelsDeep) {
  std::string path = "k";
  for (int level = 2; level <= 512; ++level) path += "\\k";
  HKEY deepest = CreateKey(HKEY_CURRENT_USER, path.c_str());
  ASSERT_NE(deepest, nullptr);
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExA(deepest, "deeper", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCreateKeyExA(HKEY_USERS, (path + "\\k").c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(SubkeyCount(deepest), 0u);
  EXPECT_EQ(SubkeyCount(HKEY_USERS), 0u);
  RegCloseKey(deepest);
  std::string text;
  ASSERT_TRUE(qxplatform::ExportRegistryText("HKCU", &text, nullptr));
  qxplatform::ResetRegistry();
  std::string error;
  ASSERT_TRUE(qxplatform::ImportRegistryText(text, &error)) << error;
  EXPECT_TRUE(Exists(HKEY_CURRENT_USER, path.c_str()));
}

TEST_F(RegistryKeysTest, CreateMakesEveryMissingLevel) {
  DWORD disposition = 0;
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "a\\b\\c", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  RegCloseKey(key);
  EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, "a"));
  EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, "a\\b"));
  EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, "A\\B\\C\\"));  // trailing backslash
}

TEST_F(RegistryKeysTest, LeadingBackslashOrEmptyLevelIsRefused) {
  constexpr LSTATUS kBadPathname = 161;
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "\\a", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            kBadPathname);
  EXPECT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "a\\\\b", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            kBadPathname);
  EXPECT_EQ(SubkeyCount(HKEY_CLASSES_ROOT), 0u);
}

TEST_F(RegistryKeysTest, EmptyOrNullSubkeyOpensTheSameKeyAgain) {
  HKEY key = CreateKey(HKEY_CLASSES_ROOT, "Same");
  RegCloseKey(CreateKey(key, "Child"));
  HKEY again = nullptr;
  ASSERT_EQ(Open(key, nullptr, &again), ERROR_SUCCESS);
  EXPECT_NE(again, key);
  EXPECT_EQ(SubkeyCount(again), 1u);
  HKEY third = nullptr;
  ASSERT_EQ(Open(key, "", &third), ERROR_SUCCESS);
  EXPECT_EQ(SubkeyCount(third), 1u);
  EXPECT_EQ(qxplatform::OpenRegistryHandles(), 3);
  RegCloseKey(third);
  RegCloseKey(again);
  RegCloseKey(key);
  EXPECT_EQ(qxplatform::OpenRegistryHandles(), 0);
}

TEST_F(RegistryKeysTest, DoubleByteNameWithBackslashTrailByteIsOneLevel) {
  ASSERT_TRUE(qxplatform::SetAnsiCodePage(932));
  // U+30BD and U+8868: both have 0x5C as their trail byte in code page 932.
  const char name[] = "\x83\x5C\x95\x5C";
  RegCloseKey(CreateKey(HKEY_CURRENT_USER, name));
  EXPECT_EQ(SubkeyCount(HKEY_CURRENT_USER), 1u);
  EXPECT_EQ(EnumKey(HKEY_CURRENT_USER, 0), name);
  EXPECT_TRUE(Exists(HKEY_CURRENT_USER, name));
  EXPECT_FALSE(Exists(HKEY_CURRENT_USER, "\x83"));
  std::string text;
  ASSERT_TRUE(qxplatform::ExportRegistryText("HKCU", &text, nullptr));
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\\xE3\x82\xBD\xE8\xA1\xA8]"),
            std::string::npos)
      << text;
}

// ---- deletion ---------------------------------------------------------------

TEST_F(RegistryKeysTest, DeleteRefusesKeyWithSubkeys) {
  RegCloseKey(CreateKey(HKEY_CLASSES_ROOT, "Parent\\Child"));
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "Parent"), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, "Parent\\Child"));
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "parent\\child"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "Parent"), ERROR_SUCCESS);
  EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, "Parent"));
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "Parent"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryKeysTest, DeleteNeverRemovesTheRootOrTheHandlesOwnKey) {
  RegCloseKey(CreateKey(HKEY_CLASSES_ROOT, "Kept"));
  EXPECT_NE(RegDeleteKeyA(HKEY_CLASSES_ROOT, ""), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, nullptr), ERROR_INVALID_PARAMETER);
  HKEY key = CreateKey(HKEY_CLASSES_ROOT, "Kept");
  EXPECT_NE(RegDeleteKeyA(key, ""), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, "Kept"));
}

TEST_F(RegistryKeysTest, HandlesOnADeletedKeyAnswerKeyDeleted) {
  HKEY key = CreateKey(HKEY_CLASSES_ROOT, "Gone");
  ASSERT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "Gone"), ERROR_SUCCESS);
  DWORD value = 1;
  EXPECT_EQ(RegSetValueExA(key, "v", 0, REG_DWORD,
                           reinterpret_cast<BYTE*>(&value), sizeof(value)),
            ERROR_KEY_DELETED);
  EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, nullptr),
            ERROR_KEY_DELETED);
  HKEY child = nullptr;
  EXPECT_EQ(RegCreateKeyExA(key, "child", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &child, nullptr),
            ERROR_KEY_DELETED);
  EXPECT_EQ(SubkeyCount(HKEY_CLASSES_ROOT), 0u);
  // A new key of the same name is a different key.
  RegCloseKey(CreateKey(HKEY_CLASSES_ROOT, "Gone"));
  EXPECT_EQ(
      RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
      ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(qxplatform::OpenRegistryHandles(), 0);
}

TEST_F(RegistryKeysTest, DeleteThroughSeveralLevels) {
  RegCloseKey(CreateKey(HKEY_LOCAL_MACHINE, "x\\y\\z"));
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "X\\Y\\Z"), ERROR_SUCCESS);
  EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, "x\\y"));
  EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, "x\\y\\z"));
}

}  // namespace
