// The profile database after a writer was killed at any moment (inside a
// write, a checkpoint, the making of the file), and with damaged files: it
// opens with every change that completed, or it is refused as it is.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "platform/base/tests/kill_test_util.h"
#include "platform/base/tests/test_home.h"
#include "platform/mapi/profile_db.h"
#include "platform/mapi/propcodec.h"

namespace quillory::testing {
namespace {

constexpr ULONG kStepTag = PROP_TAG(PT_BINARY, 0x6700);

// Step i writes one value of up to 150 KB into a section of its own.
MAPIUID SectionOf(std::int64_t i)
{
    MAPIUID uid{};
    for (int k = 0; k < 16; ++k) uid.ab[k] = k < 8 ? static_cast<BYTE>(i >> (8 * k)) : static_cast<BYTE>(0x5A);
    return uid;
}

std::vector<BYTE> DataOf(std::int64_t i)
{
    std::vector<BYTE> data(static_cast<std::size_t>((i * 7919) % 150000));
    for (std::size_t k = 0; k < data.size(); ++k) data[k] = static_cast<BYTE>(k * 17 + static_cast<std::size_t>(i));
    return data;
}

std::vector<BYTE> Encoded(std::int64_t i)
{
    auto data = DataOf(i);
    SPropValue v{};
    v.ulPropTag = kStepTag;
    v.Value.bin = SBinary{static_cast<ULONG>(data.size()), data.data()};
    std::vector<BYTE> out;
    EncodePropValue(v, out);
    return out;
}

HRESULT WriteStep(ProfileDb& db, ProfileId profile, std::int64_t i)
{
    auto data = DataOf(i);
    SPropValue v{};
    v.ulPropTag = kStepTag;
    v.Value.bin = SBinary{static_cast<ULONG>(data.size()), data.data()};
    return db.Write([&] { return db.PutProps(profile, SectionOf(i), std::span<const SPropValue>(&v, 1)); });
}

ProfileId CrashProfile(ProfileDb& db)
{
    ProfileId id = 0;
    db.Write([&] {
        const auto found = db.FindProfile("Crash");
        id = found ? found->id : db.AddProfile("Crash");
        return S_OK;
    });
    return id;
}

// Empty when every step up to `last` reads back whole from a new connection.
std::string CheckSteps(std::int64_t last)
{
    std::shared_ptr<ProfileDb> db;
    std::string error;
    if (const HRESULT hr = ProfileDb::Open(db, &error); FAILED(hr)) return "the database does not open: " + error;
    std::string finding;
    const HRESULT hr = db->Read([&] {
        const auto profile = db->FindProfile("Crash");
        if (!profile) {
            if (last >= 0) finding = "no profile";
            return S_OK;
        }
        for (std::int64_t i = 0; i <= last && finding.empty(); ++i) {
            const auto props = db->SectionProps(profile->id, SectionOf(i));
            if (props.size() != 1 || props[0].first != kStepTag || props[0].second != Encoded(i))
                finding = "step " + std::to_string(i) + " is missing or differs";
        }
        return S_OK;
    }, &error);
    return FAILED(hr) ? "the database cannot be read: " + error : finding;
}

TEST(ProfileCrash, KilledAtRandomMomentsEveryCompletedChangeIsThere)
{
    TempHome home;
    const std::int64_t last = KillWritersAtRandom(
        4711, 8,
        [](std::int64_t first, const ReportCommitted& committed) {
            std::shared_ptr<ProfileDb> db;
            if (FAILED(ProfileDb::Open(db))) _exit(1);
            const ProfileId profile = CrashProfile(*db);
            for (std::int64_t i = first;; ++i) {
                if (FAILED(WriteStep(*db, profile, i))) _exit(2);
                committed(i);
            }
        },
        CheckSteps);
    EXPECT_GT(last, 20);
}

std::vector<char> ReadBytes(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(ProfileCrash, DamagedFilesAreRefusedWithoutAByteWritten)
{
    std::vector<char> good;
    {
        TempHome made;
        {
            std::shared_ptr<ProfileDb> db;
            ASSERT_EQ(ProfileDb::Open(db), S_OK);
            const ProfileId profile = CrashProfile(*db);
            for (std::int64_t i = 0; i < 12; ++i) ASSERT_EQ(WriteStep(*db, profile, i), S_OK);
        }  // the last connection folds the log into the file
        good = ReadBytes(made.path() / "profiles" / "profiles.db");
    }
    ASSERT_GT(good.size(), 64u * 1024);
    for (const auto& c : DamagedCopies(good)) {
        TempHome home;
        const auto file = home.path() / "profiles" / "profiles.db";
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary).write(c.bytes.data(), static_cast<std::streamsize>(c.bytes.size()));
        std::shared_ptr<ProfileDb> db;
        std::string error;
        EXPECT_EQ(ProfileDb::Open(db, &error), MAPI_E_CORRUPT_STORE) << c.what;
        EXPECT_FALSE(db) << c.what;
        EXPECT_NE(error.find(file.string()), std::string::npos) << error;
        EXPECT_EQ(ReadBytes(file), c.bytes) << c.what;
        EXPECT_FALSE(std::filesystem::exists(file.string() + "-wal")) << c.what;
    }
}

}  // namespace
}  // namespace quillory::testing
