// The data folder as a value: a window that works in a folder it was given
// writes there and nowhere else, and every rename is made durable in the
// folder that holds the renamed file.
#include "data/data_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <dirent.h>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "data/file_io.h"
#include "data/status_file.h"
#include "status_lines.h"
#include "app/window_fixture.h"

namespace {

using zud::BoxAnswer;
using zud::RunOutcome;
using zud_test::factor_lines;

// Every sync the program asks for; the run's thread syncs too.
std::mutex g_syncs_mutex;
std::vector<std::pair<zud::SyncKind, std::string>> g_syncs;

void record_sync(zud::SyncKind kind, const char* path)
{
    std::lock_guard<std::mutex> lock(g_syncs_mutex);
    g_syncs.emplace_back(kind, path);
}

std::set<std::string> synced_folders()
{
    std::lock_guard<std::mutex> lock(g_syncs_mutex);
    std::set<std::string> folders;
    for (const auto& [kind, path] : g_syncs)
        if (kind == zud::SyncKind::folder)
            folders.insert(path);
    return folders;
}

std::vector<std::string> entries(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..")
                names.push_back(entry->d_name);
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class FolderValue : public zud_test::WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        g_syncs.clear();
        zud::set_sync_observer(record_sync);
    }
    void TearDown() override
    {
        zud::set_sync_observer(nullptr);
        WindowTest::TearDown();
    }
};

// The same work in "data", named by a relative path while the program sits
// in "elsewhere": the same files, all of them in "data", none in
// "elsewhere", every rename synced in "data".
TEST_F(FolderValue, a_window_given_a_folder_works_there_and_syncs_its_renames_there)
{
    const std::string original = read_file("Zud.dat");
    ::mkdir("data", 0755);
    ::mkdir("elsewhere", 0755);
    write_file("data/Zud.dat", original);
    write_file("data/Zud.dat.new-abc123", "left by a killed write");
    write_file("elsewhere/Zud.dat.new-abc123", "not ours to clean");
    // The reference: the same initial creation and range where the program sits.
    range.lower = 0;
    range.upper = 60000;
    window().initialize();
    serve_until_idle();
    ASSERT_EQ(read_file("ZudStatus.dat"), "Done");
    const std::string created = read_file("Zud.dat");
    range.lower = 3001;
    range.upper = 400000;
    box.answers = {BoxAnswer::yes};
    logic->start_stop();
    serve_until_idle();
    const std::string reference = read_file("ZudStatus.dat");
    ASSERT_EQ(logic->outcome(), RunOutcome::completed);
    drain();

    ASSERT_EQ(::chdir("elsewhere"), 0);
    g_syncs.clear();
    box.shown.clear();
    view = zud_test::FakeView();
    range.lower = 0;
    range.upper = 60000;
    window().set_folder(zud::DataFolder("../data"));
    logic->initialize();
    EXPECT_EQ(view.folder, dir_ + "/data");
    serve_until_idle();
    EXPECT_EQ(read_file("../data/ZudStatus.dat"), "Done");
    EXPECT_EQ(read_file("../data/Zud.dat"), created);
    EXPECT_EQ(read_file("../data/Zud.dat~"), original);
    // The messages name the file, not the path.
    ASSERT_FALSE(box.shown.empty());
    EXPECT_EQ(box.shown[0].text, "A new 'Zud.dat' has been written. The previous version has been renamed 'Zud.dat~'");

    // The finished file is kept as ZudStatus.dat~ on a new range: a rename too.
    range.lower = 3001;
    range.upper = 400000;
    box.answers = {BoxAnswer::yes};
    logic->start_stop();
    EXPECT_EQ(read_file("../data/ZudStatus.dat~"), "Done");
    serve_until_idle();
    EXPECT_EQ(logic->outcome(), RunOutcome::completed);
    const std::string status = read_file("../data/ZudStatus.dat");
    EXPECT_EQ(status.substr(0, 22), reference.substr(0, 22));
    EXPECT_EQ(status.substr(status.size() - 5), "Done\n");
    EXPECT_EQ(factor_lines(status), factor_lines(reference));
    EXPECT_GT(factor_lines(status).size(), 50u);

    EXPECT_EQ(synced_folders(), std::set<std::string>{"../data"});
    EXPECT_EQ(entries("."), std::vector<std::string>{"Zud.dat.new-abc123"});
    // The record on disk is kept with the data too.
    EXPECT_EQ(entries("../data"),
              (std::vector<std::string>{"Zud.dat", "Zud.dat~", "ZudStatus.dat", "ZudStatus.dat~", "zudsieve.log"}));
}

// A BOINC client maps each file to a path of its own, elsewhere than the
// slot the program runs in: backups and temporaries go beside that file,
// and its renames are synced in its folder, not in the slot.
TEST_F(FolderValue, mapped_files_keep_their_backups_beside_them_and_sync_their_own_folder)
{
    ::mkdir("project", 0755);
    ::mkdir("slot", 0755);
    ASSERT_EQ(::chdir("slot"), 0);
    const zud::DataFolder folder = zud::DataFolder::mapped("../project/zud_7_0", "../project/zud_7_1");
    EXPECT_EQ(folder.status_name(), "../project/zud_7_1");
    ASSERT_TRUE(zud::write_range_header(folder, 5000, 3001).ok);
    ASSERT_TRUE(zud::append_done(folder).ok);
    EXPECT_EQ(read_file("../project/zud_7_1"), "pmax=5000\npmin=3001\nDone\n");
    ASSERT_TRUE(zud::keep_completed_results(folder).ok);
    EXPECT_EQ(read_file("../project/zud_7_1~"), "pmax=5000\npmin=3001\nDone\n");
    EXPECT_EQ(synced_folders(), std::set<std::string>{"../project"});
    // A durable append syncs the file it writes.
    g_syncs.clear();
    write_file("../project/zud_7_1", "pmax=5000\npmin=3001\n");
    ASSERT_TRUE(zud::append_status_text(folder, "pmin=4000\n", true).ok);
    EXPECT_EQ(g_syncs, (std::vector<std::pair<zud::SyncKind, std::string>>{
                           {zud::SyncKind::data, "../project/zud_7_1"}, {zud::SyncKind::data, "../project/zud_7_1"}}));
    write_file("../project/zud_7_0.new-abc123", "left by a killed write");
    zud::remove_leftover_temporaries(folder);
    EXPECT_EQ(entries("../project"), (std::vector<std::string>{"zud_7_1", "zud_7_1~"}));
    EXPECT_TRUE(entries(".").empty());
}

}  // namespace
