// Writing the output: a success means the whole file is in place; a failed write changes nothing
// (a new file is not created, an existing one, the input included, keeps every byte); links,
// permission bits and hard links keep their meaning; concurrent writers never mix.
#include <kelvane.h>
#include <signal.h>
#include <stb_image_write.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "support/fixture.hpp"

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
    // Never anything in place of a folder.
    std::filesystem::create_directory(dir_ / "folder.png");
    EXPECT_EQ(solid(input, path("folder.png")), 0);
    EXPECT_EQ(last_error(), save_failure(path("folder.png")));
}

TEST_F(output_file_test, concurrent_writers_leave_one_whole_picture) {
    // Two processes write different pictures to the same name, 20 times each, while this one
    // reads the name: every read and the last file hold one whole picture or the other.
    const std::string a = noisy_input("a.png"), target = path("out.png");
    write_png(path("b.png"), noise_picture(64, 64, 8));
    const std::string b = path("b.png");
    const Picture picture_a = read_rgba(a), picture_b = read_rgba(b);
    std::vector<Child> writers;
    for (const std::string &input : {a, b})
        writers.push_back(start_child([&] {
            int written = 0;
            for (int i = 0; i < 20; ++i)
                written += kelvane_solid(input.c_str(), target.c_str(), 0, 0, 0, 0);
            return written;
        }));
    int reads = 0;
    while (child_running(writers[0]) || child_running(writers[1])) {
        if (!exists(target)) continue;
        const Picture seen = read_rgba(target);
        EXPECT_TRUE(seen.rgba == picture_a.rgba || seen.rgba == picture_b.rgba)
            << "a mixed or partial picture after " << reads << " reads";
        ++reads;
    }
    for (Child &writer : writers) EXPECT_EQ(finish_child(writer).result, 20);
    const Picture last = read_rgba(target);
    EXPECT_TRUE(last.rgba == picture_a.rgba || last.rgba == picture_b.rgba);
    EXPECT_GT(reads, 0);
    EXPECT_EQ(entries(), (std::vector<std::string>{"a.png", "b.png", "out.png"}));
}

}  // namespace
