// Fuzzes the text tree: any bytes are parsed; writing and reading back must agree
// with the text and with the tree; lookup and completion with fuzzer-chosen paths
// must agree with the plainly recursive reference and keep their promises; edits
// through set_content and set_children_from_text keep the round trip. Any
// disagreement aborts.

#include "tree/tree.h"
#include "tests/tree/tree_reference.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace tree_reference;

namespace {

void check(bool ok, const char* what)
{
    if (ok) return;
    std::fprintf(stderr, "tree fuzzer: %s\n", what);
    std::abort();
}

// Every node below `n` with its path, without recursion.
void collect(TreeNode& root, std::vector<std::pair<TreeNode*, std::string>>& out)
{
    out.clear();
    out.emplace_back(&root, std::string());
    for (std::size_t i = 0; i < out.size(); ++i) {
        TreeNode* n = out[i].first;
        const std::string path = out[i].second;
        for (TreeNode& child : n->children) out.emplace_back(&child, n == &root ? child.name : path + " " + child.name);
    }
}

void check_round_trip(const Tree& tree)
{
    const std::string written = tree.serialize("\r\n", 0);
    check(parse_tree(written) == tree, "reading the written text gives another tree");
}

void check_find(Tree& tree, const std::string& path, const std::vector<std::pair<TreeNode*, std::string>>& nodes,
                bool must_exist)
{
    const TreeNode* found = tree.find(path);
    check(found == ref_find(tree, path), "find disagrees with the reference");
    if (must_exist) check(found != nullptr, "find misses an existing path");
    if (!found || path.empty()) return;
    for (const auto& entry : nodes) {
        if (entry.first != found) continue;
        const std::string& got = entry.second;
        const bool exact = matches_under_rule(got, path);
        const bool trailing_space =
            path.size() == got.size() + 1 && path.back() == ' ' && matches_under_rule(got, path.substr(0, got.size()));
        check(exact || trailing_space, "find returned a node with another path");
        return;
    }
    check(false, "find returned a node outside the tree");
}

void check_complete(const Tree& tree, const std::string& query)
{
    const std::string answer = tree.complete(query);
    check(answer == ref_complete(tree, query), "complete disagrees with the reference");
    if (answer.empty()) return;
    check(answer.size() >= query.size(), "complete shortened the query");
    check(matches_under_rule(answer.substr(0, query.size()), query), "complete changed the query");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    const std::string text = input.ConsumeRandomLengthString(size);
    Tree tree = parse_tree(text);

    check(tree == ref_parse(text), "parse disagrees with the reference");
    check(tree.serialize("\r\n", 0) == normalised(text, "\r\n"), "written text differs from the normalised text");
    check(tree.serialize("\n", 0) == normalised(text, "\n"), "written text (LF) differs from the normalised text");
    check_round_trip(tree);

    std::vector<std::pair<TreeNode*, std::string>> nodes;
    collect(tree, nodes);
    for (int step = 0; step < 16 && input.remaining_bytes() > 0; ++step) {
        switch (input.ConsumeIntegralInRange<int>(0, 5)) {
        case 0: check_find(tree, input.ConsumeRandomLengthString(64), nodes, false); break;
        case 1: check_complete(tree, input.ConsumeRandomLengthString(64)); break;
        case 2: {
            // An existing node's path, cut and with letters flipped.
            const std::string& path = nodes[input.ConsumeIntegralInRange<std::size_t>(0, nodes.size() - 1)].second;
            check_find(tree, path, nodes, true);
            std::string query = path.substr(0, input.ConsumeIntegralInRange<std::size_t>(0, path.size()));
            for (char& c : query)
                if (input.ConsumeBool()) c = static_cast<char>(c ^ 0x20);
            check_complete(tree, query);
            check_find(tree, query, nodes, false);
            break;
        }
        case 3: {
            TreeNode* target = nodes[input.ConsumeIntegralInRange<std::size_t>(0, nodes.size() - 1)].first;
            const std::string children_text = input.ConsumeRandomLengthString(256);
            target->set_children_from_text(children_text);
            check(target->children == parse_tree(children_text).children, "set_children_from_text");
            check_round_trip(tree);
            collect(tree, nodes);
            break;
        }
        case 4: {
            TreeNode* target =
                nodes[input.ConsumeIntegralInRange<std::size_t>(1 % nodes.size(), nodes.size() - 1)].first;
            if (target == &tree) break;
            std::string content = input.ConsumeRandomLengthString(32);
            for (char& c : content)
                if (c == '\n') c = ' ';
            target->set_content(content);
            check(target->content == content && target->single_line == !content.empty(), "set_content");
            check_round_trip(tree);
            break;
        }
        default: {
            Tree copy(tree);
            check(copy == tree, "copy differs");
            Tree assigned;
            assigned = copy;
            check(assigned == tree && assigned.serialize("|", 1) == tree.serialize("|", 1), "assignment differs");
            break;
        }
        }
    }
    return 0;
}
