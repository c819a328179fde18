// The group file changed behind the Group Select dialog's back: between the
// dialog listing the groups and the load that follows OK, something replaces,
// cuts or removes the file.

#include "app/MainFrame.h"
#include "hosts/GroupSelectDialog.h"
#include "hosts/HostEntry.h"
#include "res/ResourceIds.h"
#include "tests/support/FrameDriver.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/TempDir.h"
#include "view/HostListCtrl.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Rows = std::vector<std::pair<std::string, std::string>>;

const std::string kFile = "[A]\n127.0.0.1 a\n[B]\n127.0.0.2 b two\n127.0.0.3 b three\n";

struct SwapCase
{
    const char* what;
    std::function<void()> change;
    bool unchanged; // the shown group stays as it was
    Rows rows; // otherwise group B is shown with these rows
};

void Truncate(off_t length)
{
    ASSERT_EQ(truncate("kelvoran.ini", length), 0);
}

const std::vector<SwapCase>& Cases()
{
    static const std::vector<SwapCase> cases {
        {"deleted", [] { std::remove("kelvoran.ini"); }, true, {}},
        {"replaced by a new file",
            [] {
                std::FILE* f = std::fopen("kelvoran.ini.new", "w");
                std::fputs("[B]\n127.0.0.7 seven\n127.0.0.8 eight\n", f);
                std::fclose(f);
                std::rename("kelvoran.ini.new", "kelvoran.ini");
            },
            false, {{"127.0.0.7", "seven"}, {"127.0.0.8", "eight"}}},
        {"rewritten in place",
            [] {
                std::FILE* f = std::fopen("kelvoran.ini", "w");
                std::fputs("[B]\n127.0.0.9 nine\n", f);
                std::fclose(f);
            },
            false, {{"127.0.0.9", "nine"}}},
        {"cut to nothing", [] { Truncate(0); }, false, {}},
        {"cut before the group", [] { Truncate(kFile.find("[B]") + 2); }, false, {}},
        {"cut in the group's last line", [] { Truncate(kFile.find("three") + 2); }, false,
            {{"127.0.0.2", "b two"}, {"127.0.0.3", "b th"}}},
        {"replaced by a folder",
            [] {
                std::remove("kelvoran.ini");
                mkdir("kelvoran.ini", 0755);
            },
            true, {}},
        {"replaced by a named pipe",
            [] {
                std::remove("kelvoran.ini");
                mkfifo("kelvoran.ini", 0644);
            },
            true, {}},
    };
    return cases;
}

// While the window thread waits to open a named pipe, opens it for writing
// now and then, which lets such a wait end; stops when told or after a while.
class PipeRescue
{
public:
    PipeRescue()
        : thread_([this] {
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (!done_ && std::chrono::steady_clock::now() < end) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                struct stat st
                { };
                if (stat("kelvoran.ini", &st) != 0 || !S_ISFIFO(st.st_mode))
                    continue;
                // Succeeds only while someone waits to read.
                const int fd = open("kelvoran.ini", O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (fd >= 0) {
                    rescued_ = true;
                    close(fd);
                }
            }
        })
    { }
    ~PipeRescue()
    {
        done_ = true;
        thread_.join();
    }
    bool Rescued() const { return rescued_; }

private:
    std::atomic<bool> done_ {false};
    std::atomic<bool> rescued_ {false};
    std::thread thread_;
};

} // namespace

TEST(GroupFileSwap, WhileTheDialogIsOpenThenOkWithAGroup)
{
    for (const SwapCase& c : Cases()) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        dir.write("kelvoran.ini", kFile);
        FrameDriver f;
        f.ChooseGroup("A");
        ASSERT_EQ(f.RowCount(), 1);
        auto* shown = reinterpret_cast<HostEntry*>(f->hostList->GetItemData(0));
        const long live = LiveHostEntries();

        bool answered = false;
        WhenModal([&](QWidget* widget) {
            auto* dialog = qobject_cast<CGroupSelectDialog*>(widget);
            ASSERT_NE(dialog, nullptr);
            c.change();
            PressKey(dialog, Qt::Key_Tab);
            PressKey(dialog, Qt::Key_Tab);
            PressKey(dialog, Qt::Key_Down);
            PressKey(dialog, Qt::Key_Down);
            ASSERT_EQ(dialog->groupList->GetText(dialog->groupList->GetCurSel()), "B");
            PressKey(dialog, Qt::Key_Return);
            answered = true;
        });
        bool rescued = false;
        const auto start = std::chrono::steady_clock::now();
        {
            PipeRescue rescue;
            f->OnCommand(ID_GROUP);
            rescued = rescue.Rescued();
        }
        const double seconds
            = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ASSERT_TRUE(answered);
        EXPECT_FALSE(rescued) << "the window waited for a writer to the group file";
        EXPECT_LT(seconds, 2.0 * KELVORAN_SLOWDOWN);

        if (c.unchanged) {
            EXPECT_EQ(f.RowCount(), 1);
            EXPECT_EQ(reinterpret_cast<HostEntry*>(f->hostList->GetItemData(0)), shown);
            EXPECT_EQ(f.ShownTitle(), "kelvoran : A");
            EXPECT_EQ(f->loadGeneration(), 1);
            EXPECT_EQ(LiveHostEntries(), live);
            continue;
        }
        EXPECT_EQ(f.ShownTitle(), "kelvoran : B");
        EXPECT_EQ(f->loadGeneration(), 2);
        ASSERT_EQ(f.RowCount(), static_cast<int>(c.rows.size()));
        for (int i = 0; i < f.RowCount(); ++i) {
            EXPECT_EQ(f.Text(i, 1), c.rows[i].first);
            EXPECT_EQ(f.Text(i, 3), c.rows[i].second);
        }
        EXPECT_EQ(LiveHostEntries(), live - 1 + static_cast<long>(c.rows.size()));
    }
}

TEST(GroupFileSwap, APipeInPlaceOfTheFileOpensTheDialogEmptyAtOnce)
{
    TempDir dir;
    ASSERT_EQ(mkfifo("kelvoran.ini", 0644), 0);
    int listed = -1;
    bool rescued = false;
    {
        PipeRescue rescue;
        // The dialog that opens at start-up reads the file too.
        FrameDriver f;
        WhenModal([&](QWidget* widget) {
            listed = qobject_cast<CGroupSelectDialog*>(widget)->groupList->count();
            PressKey(widget, Qt::Key_Escape);
        });
        f->OnCommand(ID_GROUP);
        rescued = rescue.Rescued();
    }
    EXPECT_FALSE(rescued) << "the dialog waited for a writer to the group file";
    EXPECT_EQ(listed, 0);
}
