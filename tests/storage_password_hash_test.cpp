#include <gtest/gtest.h>

#include "storage/password_hash.h"
#include "storage/user_database.h"

namespace qm {
namespace {

TEST(StoragePasswordHash, NewHashesOpenOnlyWithTheirPassword) {
    const std::string stored = HashPassword("secret");
    EXPECT_TRUE(IsPasswordHash(stored));
    EXPECT_EQ(stored.rfind("$argon2id$", 0), 0u);
    EXPECT_NE(HashPassword("secret"), stored);  // salted
    struct Case {
        std::string password;
        bool opens;
    };
    for (const Case& c : std::vector<Case>{{"secret", true}, {"sxxxxx", false}, {"", false}, {"secret ", false}})
        EXPECT_EQ(VerifyPassword(stored, "Bob", c.password), c.opens) << c.password;
}

TEST(StoragePasswordHash, LegacyValuesOpenAsTheyAlwaysDid) {
    const std::string legacy = EncodePassword("Bob", "secret");
    EXPECT_FALSE(IsPasswordHash(legacy));
    EXPECT_TRUE(VerifyPassword(legacy, "Bob", "secret"));
    EXPECT_TRUE(VerifyPassword(legacy, "Bob", "sxxxxx"));  // the weakness the new form removes
    EXPECT_FALSE(VerifyPassword(legacy, "Bob", "secre"));
    EXPECT_FALSE(VerifyPassword(legacy, "Ann", "secret"));
    EXPECT_FALSE(VerifyPassword("", "Bob", "secret"));  // a record cut short
}

// "Error" is what the legacy scheme stores for an empty password, and what
// it computes for every password of 256 characters: it opens for nobody.
TEST(StoragePasswordHash, LegacyErrorValueNeverOpens) {
    for (const std::string& password : {std::string(256, 'x'), std::string(512, 'y'), std::string(), std::string("Error")})
        EXPECT_FALSE(VerifyPassword("Error", "Bob", password)) << password.size();
}

}  // namespace
}  // namespace qm
