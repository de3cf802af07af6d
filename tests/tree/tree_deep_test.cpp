// A vault nested 10,000 levels deep (line k carries k tabs, about 50 MB of text) is
// parsed, written, searched, completed, copied and freed on a thread whose stack
// is 1 MiB, the default of the Windows program's main thread, and again on one of
// 128 KiB. A walk that recursed once per level would overflow and take the test
// process down.

#include "tree/tree.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace {

constexpr std::size_t kLevels = 10000;
// The Windows program's default stack, and a much smaller one that leaves no room
// for even 16 bytes per level: walks that recurse cannot pass on it.
constexpr std::size_t kDefaultStack = std::size_t{1} << 20;
constexpr std::size_t kTinyStack = std::size_t{128} << 10;

#ifdef _WIN32
template <typename Work>
DWORD WINAPI thread_entry(LPVOID arg)
{
    (*static_cast<Work*>(arg))();
    return 0;
}
#else
template <typename Work>
void* thread_entry(void* arg)
{
    (*static_cast<Work*>(arg))();
    return nullptr;
}
#endif

// Runs `work` on a fresh thread with a stack of `stack_size` bytes and waits for it.
template <typename Work>
bool run_on_small_stack(Work& work, std::size_t stack_size)
{
#ifdef _WIN32
    HANDLE thread =
        CreateThread(nullptr, stack_size, thread_entry<Work>, &work, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!thread) return false;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return true;
#else
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return false;
    const bool sized = pthread_attr_setstacksize(&attr, stack_size) == 0;
    pthread_t thread;
    const bool started = sized && pthread_create(&thread, &attr, thread_entry<Work>, &work) == 0;
    pthread_attr_destroy(&attr);
    if (!started) return false;
    pthread_join(thread, nullptr);
    return true;
#endif
}

// Line k: k tabs and "x", except the deepest line, "xylophone: deep".
std::string deep_text(const char* terminator)
{
    std::string text;
    text.reserve(kLevels * (kLevels + 1) / 2 + kLevels * 20);
    for (std::size_t k = 0; k < kLevels; ++k) {
        text.append(k, '\t');
        text += (k + 1 == kLevels) ? "xylophone: deep" : "x";
        text += terminator;
    }
    return text;
}

// Names of the first `levels` levels, joined by single spaces.
std::string deep_path(std::size_t levels, const char* name)
{
    std::string path;
    for (std::size_t k = 0; k < levels; ++k) {
        if (k) path += ' ';
        path += name;
    }
    return path;
}

// Follows the first child `levels` times, without recursion.
const TreeNode* descend(const TreeNode& root, std::size_t levels)
{
    const TreeNode* n = &root;
    for (std::size_t k = 0; k < levels; ++k) {
        if (n->children.size() != 1) return nullptr;
        n = &n->children[0];
    }
    return n;
}

struct DeepResults {
    bool shape = false;
    bool written_crlf = false;
    bool written_lf = false;
    bool reparsed = false;
    bool found = false;
    bool found_with_trailing_space = false;
    bool backtracked_to_null = false;
    std::string completed_exact;
    std::string completed_prefix;
    std::string completed_none;
    bool copied = false;
    bool assigned = false;
    bool moved_descendant = false;
    bool replaced_children = false;
    bool finished = false;
};

}  // namespace

class TreeDeep : public ::testing::TestWithParam<std::size_t> {};

TEST_P(TreeDeep, TenThousandLevels)
{
    const std::string text = deep_text("\n");
    const std::string expected_crlf = deep_text("\r\n");
    const std::string path = deep_path(kLevels - 1, "X") + " XYLOPHONE";
    DeepResults r;

    auto work = [&] {
        Tree tree = parse_tree(text);
        const TreeNode* deepest = descend(tree, kLevels);
        r.shape = deepest && deepest->children.empty() && deepest->name == "xylophone" && deepest->single_line &&
            deepest->content == "deep" && descend(tree, kLevels - 1)->name == "x";

        {
            const std::string written = tree.serialize("\r\n", 0);
            r.written_crlf = written == expected_crlf;
            r.reparsed = parse_tree(written) == tree;
        }
        r.written_lf = tree.serialize("\n", 0) == text;

        r.found = deepest && tree.find(path) == deepest;
        r.found_with_trailing_space = deepest && tree.find(path + " ") == deepest;
        // Fails only at the last name, after descending through every level.
        r.backtracked_to_null = tree.find(deep_path(kLevels - 1, "x") + " xylophonf") == nullptr;

        r.completed_exact = tree.complete(path);
        r.completed_prefix = tree.complete(deep_path(kLevels - 1, "X") + " XY");
        r.completed_none = tree.complete(deep_path(kLevels - 1, "x") + " z");

        {
            Tree copy(tree);
            r.copied = copy == tree;
            Tree assigned;
            assigned = copy;
            r.assigned = assigned == tree;
            // A node takes over its own child's subtree; the rest goes.
            assigned = std::move(assigned.children[0]);
            r.moved_descendant =
                descend(assigned, kLevels - 1) != nullptr && descend(assigned, kLevels - 1)->name == "xylophone";
        }

        Tree holder(std::string("top"), std::string(), false);
        holder.set_children_from_text(text);
        holder.set_children_from_text("a\n");
        r.replaced_children = holder.children.size() == 1 && holder.children[0].name == "a";
        r.finished = true;
        // `tree` and `holder` are freed here, still on the small stack.
    };

    ASSERT_TRUE(run_on_small_stack(work, GetParam())) << "could not start a thread with a small stack";
    ASSERT_TRUE(r.finished);
    EXPECT_TRUE(r.shape);
    EXPECT_TRUE(r.written_crlf);
    EXPECT_TRUE(r.written_lf);
    EXPECT_TRUE(r.reparsed);
    EXPECT_TRUE(r.found);
    EXPECT_TRUE(r.found_with_trailing_space);
    EXPECT_TRUE(r.backtracked_to_null);
    EXPECT_EQ(r.completed_exact, deep_path(kLevels - 1, "x") + " xylophone");
    EXPECT_EQ(r.completed_prefix, deep_path(kLevels - 1, "x") + " xylophone");
    EXPECT_EQ(r.completed_none, "");
    EXPECT_TRUE(r.copied);
    EXPECT_TRUE(r.assigned);
    EXPECT_TRUE(r.moved_descendant);
    EXPECT_TRUE(r.replaced_children);
}

TEST_P(TreeDeep, WideAndDeepTreesAreFreed)
{
    // A comb: every level also has a leaf sibling, so freeing must keep track of
    // unfinished levels as well as the spine.
    std::string text;
    for (std::size_t k = 0; k < 5000; ++k) {
        text.append(k, '\t');
        text += "spine\n";
        text.append(k + 1, '\t');
        text += "leaf\n";
    }
    bool ok = false;
    auto work = [&] {
        std::vector<TreeNode> trees;
        trees.push_back(parse_tree(text));
        trees.push_back(trees[0]);
        trees.push_back(trees[1]);
        trees.erase(trees.begin());  // moves by assignment, frees one
        ok = trees.size() == 2 && trees[0] == trees[1] && trees[0].serialize("\n", 0) == text;
        // The vector frees both trees when it goes out of scope.
    };
    ASSERT_TRUE(run_on_small_stack(work, GetParam()));
    EXPECT_TRUE(ok);
}

INSTANTIATE_TEST_SUITE_P(Stacks, TreeDeep, ::testing::Values(kDefaultStack, kTinyStack),
                         [](const ::testing::TestParamInfo<std::size_t>& stack) {
                             return std::to_string(stack.param >> 10) + "KiB";
                         });
