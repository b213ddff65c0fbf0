// Writing the output does what a plain write would, or nothing: a success means the whole file is
// in place; a failed write changes nothing (a new file is not created, an existing one, the input
// included, keeps every byte); rights, owners, ACLs, attributes, links and hard links keep their
// meaning; no one else reads a private picture while it is written; a killed job leaves nothing
// behind; concurrent writers never mix.
#include <fcntl.h>
#include <kelvane.h>
#include <signal.h>
#include <stb_image_write.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "support/fixture.hpp"
#include "support/system.hpp"

using namespace kelvane_test;

namespace {

class output_file_test : public ScratchTest {
  protected:
    // An input whose every output is larger than 4 KiB: noise, 64 x 64.
    std::string noisy_input(const std::string &name) const {
        const std::string p = path(name);
        const Picture picture = noise_picture(64, 64, 7);
        if (name.ends_with(".png"))
            write_png(p, picture);
        else if (name.ends_with(".jpg"))
            stbi_write_jpg(p.c_str(), 64, 64, 4, picture.rgba.data(), 90);
        else
            stbi_write_bmp(p.c_str(), 64, 64, 4, picture.rgba.data());
        return p;
    }
    // The names in the scratch folder, so that a stray temporary file shows.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto &entry : std::filesystem::directory_iterator(dir_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    static int solid(const std::string &in, const std::string &out) {
        return kelvane_solid(in.c_str(), out.c_str(), 3, 10, 20, 30);
    }
};

TEST_F(output_file_test, a_full_disk_is_a_failure) {
    const std::string input = noisy_input("in.png");
    std::filesystem::create_symlink("/dev/full", path("full.jpg"));
    for (const std::string &target : {std::string("/dev/full"), path("full.jpg")}) {
        EXPECT_EQ(solid(input, target), 0) << target;
        EXPECT_EQ(last_error(), save_failure(target));
    }
}

TEST_F(output_file_test, a_write_cut_short_leaves_every_file_as_it_was) {
    // The file-size limit cuts each write at 4 KiB, in a child process: the result is 0, no
    // file appears, and an existing file (the input itself, when it is also the output) keeps
    // every byte.
    for (const std::string format : {"png", "jpg", "bmp"}) {
        const std::string input = noisy_input("in." + format), existing = path("old." + format);
        write_bytes(existing, "the old contents");
        const std::string original = read_bytes(input);
        for (const std::string &target : {path("new." + format), existing, input}) {
            const std::vector<std::string> before = entries();
            const ChildResult child = in_child([&] {
                signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{4096, 4096};
                setrlimit(RLIMIT_FSIZE, &limit);
                return solid(input, target);
            });
            EXPECT_EQ(child.result, 0) << target;
            EXPECT_EQ(child.message, save_failure(target));
            EXPECT_EQ(entries(), before) << target;
        }
        EXPECT_EQ(read_bytes(existing), "the old contents");
        EXPECT_EQ(read_bytes(input), original);
        // Without the limit, the input is replaced by the result.
        ASSERT_EQ(solid(input, input), 1) << last_error();
        EXPECT_EQ(read_rgba(input).width, 70);
    }
}

TEST_F(output_file_test, links_stay_links_and_files_keep_their_permissions) {
    const std::string input = noisy_input("in.png");
    std::filesystem::create_directory(dir_ / "real");
    write_bytes(path("real/kept.png"), "old");
    chmod(path("real/kept.png").c_str(), 0640);
    std::filesystem::create_symlink("real/kept.png", path("relative.png"));
    std::filesystem::create_symlink(path("relative.png"), path("chain.png"));
    std::filesystem::create_symlink("real/new.png", path("dangling.png"));
    for (const char *link : {"relative.png", "chain.png", "dangling.png"}) {
        ASSERT_EQ(solid(input, path(link)), 1) << link << ": " << last_error();
        EXPECT_TRUE(std::filesystem::is_symlink(path(link))) << link;
    }
    EXPECT_EQ(read_rgba(path("real/kept.png")).width, 70);
    EXPECT_EQ(read_rgba(path("real/new.png")).width, 70);
    struct stat st;
    ASSERT_EQ(stat(path("real/kept.png").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    // A new file gets 0666 less the umask.
    const mode_t old_mask = umask(027);
    ASSERT_EQ(solid(input, path("fresh.png")), 1);
    umask(old_mask);
    ASSERT_EQ(stat(path("fresh.png").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(entries(), (std::vector<std::string>{"chain.png", "dangling.png", "fresh.png",
                                                   "in.png", "real", "relative.png"}));
}

TEST_F(output_file_test, hard_links_and_unwritable_folders_are_written_in_place) {
    const std::string input = noisy_input("in.png");
    write_bytes(path("a.png"), "old");
    std::filesystem::create_hard_link(path("a.png"), path("b.png"));
    ASSERT_EQ(solid(input, path("a.png")), 1) << last_error();
    EXPECT_EQ(read_rgba(path("b.png")).width, 70);  // still one file under two names

    // A folder that takes no new file, holding a file its user may write: as root, the call is
    // made as another user.
    std::filesystem::create_directory(dir_ / "locked");
    const std::string kept = path("locked/kept.png"), fresh = path("locked/fresh.png");
    write_bytes(kept, "old");
    chmod(path("locked").c_str(), 0555);
    chmod(kept.c_str(), 0666);
    chmod(input.c_str(), 0644);
    auto as_user = [&](const std::string &target) {
        return in_child([&] {
            if (geteuid() == 0 && setuid(65534) != 0) return -2;
            return solid(input, target);
        });
    };
    EXPECT_EQ(as_user(kept).result, 1);
    EXPECT_EQ(read_rgba(kept).width, 70);
    const ChildResult refused = as_user(fresh);
    EXPECT_EQ(refused.result, 0);
    EXPECT_EQ(refused.message, save_failure(fresh));
    chmod(path("locked").c_str(), 0755);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_ / "locked"), {}), 1);
}

TEST_F(output_file_test, outputs_that_are_not_files_are_written_through) {
    const std::string input = noisy_input("in.png");
    ASSERT_EQ(solid(input, path("reference.png")), 1);
    ASSERT_EQ(mkfifo(path("fifo.png").c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] { received = read_bytes(path("fifo.png")); });
    EXPECT_EQ(solid(input, path("fifo.png")), 1) << last_error();
    reader.join();
    EXPECT_EQ(received, read_bytes(path("reference.png")));
    // A descriptor's link to a pipe (/dev/stdout under a shell's pipe) reads "pipe:[N]", not a
    // path; the kernel follows it to the pipe.
    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    std::thread drain([&] {
        received.clear();
        char buffer[4096];
        for (ssize_t n; (n = read(pipe_ends[0], buffer, sizeof buffer)) > 0;)
            received.append(buffer, std::size_t(n));
    });
    EXPECT_EQ(solid(input, "/proc/self/fd/" + std::to_string(pipe_ends[1])), 1) << last_error();
    close(pipe_ends[1]);
    drain.join();
    close(pipe_ends[0]);
    EXPECT_EQ(received, read_bytes(path("reference.png")));
    // Never anything in place of a folder.
    std::filesystem::create_directory(dir_ / "folder.png");
    EXPECT_EQ(solid(input, path("folder.png")), 0);
    EXPECT_EQ(last_error(), save_failure(path("folder.png")));
}

TEST_F(output_file_test, concurrent_writers_leave_one_whole_picture) {
    // Two processes write different pictures (of unequal sizes, several writes each) to the same
    // name, 20 times each, while this one reads it. A file of its own is replaced, so every read
    // sees one whole file. A hard-linked file is written in place under an exclusive lock: a
    // reader that takes the shared lock sees one whole file too, and the writers never mix.
    const std::string a = path("a.png"), b = path("b.png");
    write_png(a, noise_picture(200, 200, 7));
    write_png(b, noise_picture(180, 160, 8));
    std::string whole[2];
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(solid(i ? b : a, path("whole.png")), 1);
        whole[i] = read_bytes(path("whole.png"));
    }
    std::filesystem::remove(path("whole.png"));
    for (const bool linked : {false, true}) {
        const std::string target = path(linked ? "linked.png" : "out.png");
        if (linked) {
            write_bytes(target, "old");
            std::filesystem::create_hard_link(target, path("other-name.png"));
        }
        std::vector<Child> writers;
        for (const std::string &input : {a, b})
            writers.push_back(start_child([&] {
                int written = 0;
                for (int i = 0; i < 20; ++i) written += solid(input, target);
                return written;
            }));
        int reads = 0;
        while (child_running(writers[0]) || child_running(writers[1])) {
            const int fd = open(target.c_str(), O_RDONLY);
            if (fd < 0) continue;
            if (linked) flock(fd, LOCK_SH);
            std::string seen;
            char buffer[1 << 16];
            for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
                seen.append(buffer, std::size_t(n));
            close(fd);
            EXPECT_TRUE(seen == whole[0] || seen == whole[1] || (linked && seen == "old"))
                << target << ": a mixed or partial file after " << reads << " reads";
            ++reads;
        }
        for (Child &writer : writers) EXPECT_EQ(finish_child(writer).result, 20);
        EXPECT_TRUE(read_bytes(target) == whole[0] || read_bytes(target) == whole[1]) << target;
        EXPECT_GT(reads, 0);
    }
    EXPECT_EQ(entries(), (std::vector<std::string>{"a.png", "b.png", "linked.png", "other-name.png",
                                                   "out.png"}));
}

// Why a test that needs the test users skips.
#define SKIP_WITHOUT_USERS() \
    if (const std::string why = test_users_unavailable(); !why.empty()) GTEST_SKIP() << why

struct Owner {
    uid_t uid;
    gid_t gid;
    unsigned mode;
};

Owner owner_of(const std::string &path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return {st.st_uid, st.st_gid, unsigned(st.st_mode & 07777)};
}

TEST_F(output_file_test, a_file_is_replaced_only_where_a_write_could_change_it) {
    SKIP_WITHOUT_USERS();
    const TestUser &a = test_user(0), &b = test_user(1);
    // A folder of b's group that the group may write, with a in that group.
    std::filesystem::create_directory(dir_ / "shared");
    chown(path("shared").c_str(), 0, b.gid);
    chmod(path("shared").c_str(), 02775);
    chmod(dir_.c_str(), 0755);
    const std::string input = noisy_input("in.png");
    const struct {
        const char *name;
        Owner file;
        bool written;
    } cases[] = {
        {"a's read-only file", {a.uid, a.gid, 0444}, false},
        {"b's file that b alone may write", {b.uid, b.gid, 0644}, false},
        {"b's file that anyone may write", {b.uid, b.gid, 0666}, true},  // written in place
        {"a's file in b's group", {a.uid, b.gid, 0640}, true},
        {"a's set-group-ID file", {a.uid, b.gid, 02750}, true},
    };
    for (const auto &c : cases) {
        const std::string target = path("shared/out.png");
        write_bytes(target, "old");
        chown(target.c_str(), c.file.uid, c.file.gid);
        chmod(target.c_str(), c.file.mode);
        const ChildResult child = as_user(
            a, [&] { return solid(input, target); }, b.gid);
        EXPECT_EQ(child.result, c.written ? 1 : 0) << c.name << ": " << child.message;
        EXPECT_EQ(read_rgba(target).width, c.written ? 70 : 0) << c.name;
        const Owner now = owner_of(target);
        EXPECT_EQ(now.uid, c.file.uid) << c.name;
        EXPECT_EQ(now.gid, c.file.gid) << c.name;
        EXPECT_EQ(now.mode, c.file.mode) << c.name;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_ / "shared"), {}), 1);
        std::filesystem::remove(target);
    }
}

TEST_F(output_file_test, acls_and_extended_attributes_stay_with_the_file) {
    SKIP_WITHOUT_USERS();
    const TestUser &a = test_user(0), &b = test_user(1);
    const std::string input = noisy_input("in.png"), target = path("out.png");
    chmod(dir_.c_str(), 0777);
    const std::string acl = "setfacl -m u:" + b.name + ":rw " + target;
    for (const TestUser *caller : {static_cast<const TestUser *>(nullptr), &a}) {  // root, then a
        write_bytes(target, "old");
        chown(target.c_str(), a.uid, a.gid);
        chmod(target.c_str(), 0640);
        if (std::system(acl.c_str()) != 0 ||
            setxattr(target.c_str(), "user.note", "kept", 4, 0) != 0)
            GTEST_SKIP() << "setfacl or user.* attributes are not available here";
        const std::string acl_before = attribute(target, "system.posix_acl_access");
        const Owner before = owner_of(target);
        const int result = caller ? as_user(*caller, [&] { return solid(input, target); }).result
                                  : solid(input, target);
        EXPECT_EQ(result, 1) << last_error();
        EXPECT_EQ(read_rgba(target).width, 70);
        EXPECT_EQ(attribute(target, "system.posix_acl_access"), acl_before);
        EXPECT_EQ(attribute(target, "user.note"), "kept");
        EXPECT_EQ(owner_of(target).mode, before.mode);  // with an ACL, the group bits are its mask
        EXPECT_EQ(owner_of(target).uid, a.uid);
    }
    // A folder's default ACL reaches a new file, but not one that replaces a file without an ACL.
    std::filesystem::remove(target);
    write_bytes(target, "old");
    ASSERT_EQ(std::system(("setfacl -d -m u:" + b.name + ":r " + dir_.string()).c_str()), 0);
    ASSERT_EQ(solid(input, target), 1);
    EXPECT_EQ(attribute(target, "system.posix_acl_access"), "<none>");
    ASSERT_EQ(solid(input, path("new.png")), 1);
    EXPECT_NE(attribute(path("new.png"), "system.posix_acl_access"), "<none>");
}

TEST_F(output_file_test, no_one_else_can_read_a_picture_while_it_is_written) {
    SKIP_WITHOUT_USERS();
    const TestUser &a = test_user(0), &b = test_user(1);
    // a writes a private picture 30 times while b opens whatever appears in the folder.
    chmod(dir_.c_str(), 0777);
    write_png(path("in.png"), noise_picture(512, 512, 3));
    const std::string input = path("in.png"), target = path("private.png");
    write_bytes(target, "old");
    chown(target.c_str(), a.uid, a.gid);
    chmod(target.c_str(), 0600);
    const std::string done = path("done");
    Child writer = start_child([&] {
        if (!become(a)) return -2;
        int written = 0;
        for (int i = 0; i < 30; ++i) written += solid(input, target);
        write_bytes(done, "");
        return written;
    });
    const ChildResult reader = as_user(b, [&] {
        int opened = 0;
        for (int round = 0; round < 100000 && !exists(done); ++round)
            for (const auto &entry : std::filesystem::directory_iterator(dir_))
                if (entry.path().filename() != "in.png" && entry.path() != done) {
                    const int fd = open(entry.path().c_str(), O_RDONLY);
                    opened += fd >= 0;
                    if (fd >= 0) close(fd);
                }
        return opened;
    });
    EXPECT_EQ(finish_child(writer).result, 30);
    EXPECT_EQ(reader.result, 0) << "files b could open while a wrote";
    EXPECT_EQ(owner_of(target).mode, 0600u);
}

TEST_F(output_file_test, a_job_killed_at_any_moment_leaves_the_old_file_or_the_new_one) {
    write_png(path("in.png"), noise_picture(400, 300, 4));
    const std::string input = path("in.png"), target = path("out.png");
    ASSERT_EQ(solid(input, target), 1);
    const std::string whole = read_bytes(target);
    for (const int delay_ms : {0, 1, 2, 3, 5, 8, 13, 21, 34, 55}) {
        Child job = start_child([&] {
            for (;;) solid(input, target);
            return 0;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
        kill(job.pid, SIGKILL);
        finish_child(job);
        EXPECT_EQ(read_bytes(target), whole) << "killed after " << delay_ms << " ms";
        // A kill between the temporary file's link and its rename leaves it named, for the
        // next writer in the folder to remove.
        ASSERT_EQ(solid(input, path("next.png")), 1);
        EXPECT_EQ(entries(), (std::vector<std::string>{"in.png", "next.png", "out.png"}))
            << "killed after " << delay_ms << " ms";
    }
}

TEST_F(output_file_test, a_writer_removes_only_the_temporary_files_no_one_holds) {
    const std::string input = noisy_input("in.png");
    write_bytes(path(".kelvane-00.tmp"), "left by a killed writer");
    write_bytes(path(".kelvane-15.tmp"), "left by a killed writer");
    write_bytes(path(".kelvane-01.tmp"), "a writer at work");
    std::filesystem::create_directory(path(".kelvane-02.tmp"));
    const int held = open(path(".kelvane-01.tmp").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    for (const char *output : {"new.png", "new.png"}) {  // created, then replaced
        ASSERT_EQ(solid(input, path(output)), 1) << last_error();
        EXPECT_EQ(entries(), (std::vector<std::string>{".kelvane-01.tmp", ".kelvane-02.tmp",
                                                       "in.png", "new.png"}));
    }
    EXPECT_EQ(read_bytes(path(".kelvane-01.tmp")), "a writer at work");
    close(held);
}

TEST_F(output_file_test, links_are_followed_only_as_the_kernel_follows_them) {
    SKIP_WITHOUT_USERS();
    const TestUser &b = test_user(1);
    // This process (root) writes through b's links in a sticky, world-writable folder.
    const std::string input = noisy_input("in.png"), victim = path("victim.png");
    write_bytes(victim, "private");
    chmod(victim.c_str(), 0600);
    chmod(dir_.c_str(), 0755);
    std::filesystem::create_directory(dir_ / "sticky");
    chmod(path("sticky").c_str(), 01777);
    const std::string link = path("sticky/out.png");
    ASSERT_EQ(as_user(b, [&] { return symlink(victim.c_str(), link.c_str()); }).result, 0);
    for (const char *setting : {"1", "0"}) {
        const Sysctl protect("fs/protected_symlinks", setting);
        if (!protect.unavailable().empty()) GTEST_SKIP() << protect.unavailable();
        const bool followed = setting[0] == '0';
        EXPECT_EQ(solid(input, link), followed ? 1 : 0) << "protected_symlinks=" << setting;
        if (!followed) {
            EXPECT_EQ(last_error(), save_failure(link));
        }
        EXPECT_EQ(read_bytes(victim) == "private", !followed);
        write_bytes(victim, "private");
    }
    // b takes its link away and puts it back while this process writes to the name.
    const Sysctl protect("fs/protected_symlinks", "1");
    Child swapper = start_child([&] {
        if (!become(b)) return -2;
        for (;;) {
            unlink(link.c_str());
            symlink(victim.c_str(), link.c_str());
        }
    });
    int calls = 0;
    // Each call to a fresh name, as a job writing new files; a picture of one pixel, for many
    // calls (fewer under valgrind).
    const std::string dot = in(solid_picture(1, 1, {1, 2, 3, 255}), "dot.png");
    const int rounds = std::getenv("LD_PRELOAD") ? 500 : 20000;
    for (; calls < rounds; ++calls) {
        unlink(link.c_str());
        solid(dot, link);
    }
    kill(swapper.pid, SIGKILL);
    finish_child(swapper);
    EXPECT_EQ(read_bytes(victim), "private") << "after " << calls << " calls";
}

TEST_F(output_file_test, a_full_file_system_keeps_the_old_file_whole) {
    const std::string input = noisy_input("in.png"), disk = path("disk");
    const struct {
        const char *name, *options;
        std::uintmax_t filler;
    } cases[] = {{"no inode left", "nr_inodes=4,size=1m", 0},
                 {"no block left", "size=64k", 60 * 1024}};
    for (const auto &c : cases) {
        std::filesystem::create_directory(disk);
        if (const std::string why = mount_here("tmpfs", disk, "tmpfs", 0, c.options); !why.empty())
            GTEST_SKIP() << why;
        const std::string target = disk + "/out.png";
        write_bytes(target, "the old contents");
        write_bytes(disk + "/filler", std::string(c.filler, 'x'));
        write_bytes(disk + "/filler2", "");  // the last inode, where there is one
        EXPECT_EQ(solid(input, target), 0) << c.name;
        EXPECT_EQ(last_error(), save_failure(target)) << c.name;
        EXPECT_EQ(read_bytes(target), "the old contents") << c.name;
        unmount(disk);
        std::filesystem::remove(disk);
    }
}

TEST_F(output_file_test, every_output_a_plain_write_accepts_is_written) {
    const std::string input = noisy_input("in.png");
    // A path of 4,074 bytes: the folders 200 bytes a name, created one below the other.
    std::string deep = dir_.string();
    std::filesystem::path folder = dir_;
    while (deep.size() < 4074 - 210) {
        folder /= std::string(200, 'd');
        deep = folder.string();
        ASSERT_EQ(mkdir(deep.c_str(), 0755), 0) << deep.size();
    }
    const std::string long_path = deep + "/" + std::string(4074 - deep.size() - 5, 'n') + ".png";
    ASSERT_EQ(long_path.size(), 4074u);
    EXPECT_EQ(solid(input, long_path), 1) << last_error();
    EXPECT_EQ(read_rgba(long_path).width, 70);
    // A single file mounted over another, as a container mounts one.
    const std::string source = path("source.png"), mounted = path("mounted.png");
    write_bytes(source, "old");
    write_bytes(mounted, "");
    if (const std::string why = mount_here(source, mounted, "none", MS_BIND); !why.empty())
        GTEST_SKIP() << why;
    EXPECT_EQ(solid(input, mounted), 1) << last_error();
    unmount(mounted);
    EXPECT_EQ(read_rgba(source).width, 70);
}

}  // namespace
