// Every allocation of every operation refused in turn. This program is linked with
// --wrap=malloc,calloc,realloc, so that the library's calls (and stb's, compiled into it) reach
// the counting allocator below, and replaces operator new, which counts the same way;
// everything else in the process allocates as usual. Each refusal
// must end in result 0, the message that names the buffer, no output file (or the old one whole),
// and (under LeakSanitizer) no leak.
#include <kelvane.h>

#include <cstddef>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>

#include "support/fixture.hpp"

extern "C" {
void *__real_malloc(std::size_t size);
void *__real_calloc(std::size_t count, std::size_t size);
void *__real_realloc(void *block, std::size_t size);
}

namespace {

// One allocation the library asked for.
struct Request {
    bool realloc;
    std::size_t size;
};

bool counting = false;
std::size_t refuse_at = 0;  // 1-based index of the allocation to refuse; 0 refuses none
std::vector<Request> *requests = nullptr;

bool refuse(bool is_realloc, std::size_t size) {
    if (!counting) return false;
    requests->push_back({is_realloc, size});
    return requests->size() == refuse_at;
}

}  // namespace

extern "C" {
void *__wrap_malloc(std::size_t size) {
    return refuse(false, size) ? nullptr : __real_malloc(size);
}
void *__wrap_calloc(std::size_t count, std::size_t size) {
    return refuse(false, count * size) ? nullptr : __real_calloc(count, size);
}
void *__wrap_realloc(void *block, std::size_t size) {
    return refuse(true, size) ? nullptr : __real_realloc(block, size);
}
}

// operator new too is refused in turn: it throws, and an exception that reached the library's
// C interface would end the process (the library must allocate through malloc alone).
void *operator new(std::size_t size) {
    void *block = refuse(false, size) ? nullptr : __real_malloc(size ? size : 1);
    if (!block) throw std::bad_alloc();
    return block;
}
void *operator new[](std::size_t size) { return operator new(size); }
// GCC takes free() for a mismatch, seeing only the standard operator new's contract.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void *block) noexcept { std::free(block); }
void operator delete[](void *block) noexcept { std::free(block); }
void operator delete(void *block, std::size_t) noexcept { std::free(block); }
void operator delete[](void *block, std::size_t) noexcept { std::free(block); }

namespace {

using namespace kelvane_test;

// The decoder's allocations fail with its reason "outofmem", but some of its paths give none,
// which reads as "unknown error": both stand for the decoder's refusal here.
std::string decoder_message(std::string message) {
    const std::string none = "': unknown error";
    if (message.size() > none.size() && message.rfind("cannot decode '", 0) == 0 &&
        message.compare(message.size() - none.size(), none.size(), none) == 0)
        message.replace(message.size() - none.size(), none.size(), "': outofmem");
    return message;
}

class alloc_failure_test : public ScratchTest {
  protected:
    // Runs `call` with allocation `k` refused (0: none) and returns the allocations it made.
    std::vector<Request> run(const std::function<int()> &call, std::size_t k, int &result) {
        std::vector<Request> made;
        made.reserve(1 << 16);
        requests = &made;
        refuse_at = k;
        counting = true;
        result = call();
        counting = false;
        requests = nullptr;
        return made;
    }

    // Refuses each allocation of `call` in turn. `message_for` names the message expected when
    // allocation k (of those a successful call makes) is refused. Before each call a failed
    // decoding leaves the decoder's reason "unknown image type", which must not reappear.
    void refuse_each(
        const std::string &target, const std::function<int()> &call,
        const std::function<std::string(const std::vector<Request> &, std::size_t)> &message_for) {
        int result = 0;
        const std::vector<Request> all = run(call, 0, result);
        ASSERT_EQ(result, 1) << last_error();
        ASSERT_FALSE(all.empty());
        std::filesystem::remove(target);
        const std::string text = file("notes.txt", "not a picture");
        for (std::size_t k = 1; k <= all.size(); ++k) {
            // The target in turn missing, a file to replace, and a file with a second name, to
            // be written in place: a refusal leaves no file, or the old one whole.
            const std::size_t existing = k % 3;
            if (existing) write_bytes(target, "old");
            if (existing == 2) std::filesystem::create_hard_link(target, path("second-name"));
            ASSERT_EQ(kelvane_rounded(text.c_str(), target.c_str(), 1), 0);
            run(call, k, result);
            EXPECT_EQ(result, 0) << "allocation " << k << " of " << all.size();
            EXPECT_EQ(decoder_message(last_error()), message_for(all, k))
                << "allocation " << k << " of " << all.size() << " (" << all[k - 1].size
                << " bytes)";
            EXPECT_EQ(read_bytes(target), existing ? "old" : "") << "allocation " << k;
            EXPECT_EQ(exists(target), existing != 0) << "allocation " << k;
            std::filesystem::remove(target);
            std::filesystem::remove(path("second-name"));
        }
    }
};

// The index (1-based) of the realloc that grows the picture into a w x h canvas.
std::size_t canvas_index(const std::vector<Request> &all, int w, int h) {
    for (std::size_t i = 0; i < all.size(); ++i)
        if (all[i].realloc && all[i].size == std::size_t(w) * std::size_t(h) * 4) return i + 1;
    ADD_FAILURE() << "no canvas allocation of " << w << "x" << h;
    return 0;
}

// A picture with some transparency, so that every path of the encoders and the shadow runs.
Picture sample(int w, int h) {
    Picture p = solid_picture(w, h, {0, 0, 0, 0});
    for (std::size_t i = 0; i < p.rgba.size(); ++i) p.rgba[i] = std::uint8_t(i * 29 + i / 7);
    return p;
}

TEST_F(alloc_failure_test, uniform_and_per_side_borders) {
    const std::string input = in(sample(37, 23));
    for (const char *name : {"border.png", "border.jpg", "border.bmp"}) {
        const std::string target = out(name), decode = decode_failure(input, "outofmem");
        const std::string encode = save_failure(target);
        auto border_message = [&](int w, int h) {
            return [&, w, h](const std::vector<Request> &all, std::size_t k) {
                const std::size_t canvas = canvas_index(all, w, h);
                if (k < canvas) return decode;
                if (k == canvas)
                    return "out of memory for " + std::to_string(w) + "x" + std::to_string(h) +
                           " canvas";
                return encode;
            };
        };
        refuse_each(
            target, [&] { return kelvane_solid(input.c_str(), target.c_str(), 3, 1, 2, 3); },
            border_message(43, 29));
        refuse_each(
            target,
            [&] { return kelvane_sides(input.c_str(), target.c_str(), 1, 2, 3, 4, 1, 2, 3); },
            border_message(43, 27));
    }
}

TEST_F(alloc_failure_test, rounded_corners) {
    const std::string input = in(sample(37, 23)), target = out("rounded.png");
    // The decoder's allocations alone: a call refused right after loading.
    int result = 0;
    const std::size_t decoding =
        run([&] { return kelvane_sides(input.c_str(), target.c_str(), 0, 0, 0, 70000, 0, 0, 0); },
            0, result)
            .size();
    ASSERT_GT(decoding, 0u);
    refuse_each(
        target, [&] { return kelvane_rounded(input.c_str(), target.c_str(), 5); },
        [&](const std::vector<Request> &, std::size_t k) {
            return k <= decoding ? decode_failure(input, "outofmem") : save_failure(target);
        });
}

TEST_F(alloc_failure_test, shadow) {
    const std::string input = in(sample(37, 23));
    const int w = 37, h = 23, blur = 4, radius = 4;
    const int width = w + 5 + 2 * blur, height = h + 3 + 2 * blur;  // dx = -5, dy = 3
    for (const char *name : {"shadow.png", "shadow.jpg"}) {
        const std::string target = out(name);
        refuse_each(
            target,
            [&] { return kelvane_shadow(input.c_str(), target.c_str(), -5, 3, blur, 9, 8, 7); },
            [&](const std::vector<Request> &all, std::size_t k) -> std::string {
                const std::size_t canvas = canvas_index(all, width, height);
                if (k < canvas) return decode_failure(input, "outofmem");
                if (k == canvas)
                    return "out of memory for " + std::to_string(width) + "x" +
                           std::to_string(height) + " shadow canvas";
                // Then the layer's row numbers and cache, the kernel, the ring of row sums
                // and the source row: each named by its message.
                const std::size_t row = std::size_t(w + 2 * radius) * 4;
                const std::size_t sizes[] = {std::size_t(h) * sizeof(int), row,
                                             std::size_t(2 * radius + 1) * sizeof(float),
                                             std::size_t(2 * radius + 1) * row * sizeof(float),
                                             (row + 8 * std::size_t(radius)) * sizeof(float)};
                const std::size_t nth = k - canvas - 1;
                if (nth < 5) {
                    EXPECT_EQ(all[k - 1].size, sizes[nth]) << "scratch buffer " << nth;
                    return nth < 2 ? "out of memory for shadow layer"
                                   : "out of memory for blur kernel";
                }
                return save_failure(target);
            });
    }
}

}  // namespace
