// What a sequence types, and the key records SendInput gets for it.

#include "autotype/sequence.h"

#include "autotype/integrity.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The plan in a readable form: ASCII characters as they are, others as their units
// in hex, keys as <TAB> and <ENTER>, delays as <n ms>.
std::string shown(const TypingPlan& plan)
{
    std::string text;
    for (std::size_t i = 0; i < plan.size(); ++i) {
        const TypingAction& action = plan[i];
        switch (action.kind) {
        case TypingAction::Kind::kCharacter:
            if (action.unit_count == 1 && action.units[0] < 0x80) {
                text += static_cast<char>(action.units[0]);
            } else {
                char units[24];
                std::snprintf(units, sizeof units, action.unit_count == 2 ? "<%04X %04X>" : "<%04X>", action.units[0],
                              action.units[1]);
                text += units;
            }
            break;
        case TypingAction::Kind::kKey: text += action.virtual_key == kVirtualKeyTab ? "<TAB>" : "<ENTER>"; break;
        case TypingAction::Kind::kDelay: text += "<" + std::to_string(action.delay) + " ms>"; break;
        }
    }
    return text;
}

const Tree kEntries = parse_tree("mail\n"
                                 "\tLogin: ada\n"
                                 "\tPassword: p\xC3\xA4ss\xF0\x9D\x84\x9E\n"
                                 "\tpassword: second\n"
                                 "\turl: https://mail.example\n"
                                 "\ttotp: JBSWY3DPEHPK3PXP\n"
                                 "bare\n"
                                 "\tauto-type: {USERNAME}{PASSWORD}\n"
                                 "custom\n"
                                 "\tuser: bob\n"
                                 "\tpass: pw\n"
                                 "\tAuto-Type: {tab}{USERNAME}{DELAY 250}{space}{{}x{}}{ENTER}\n");

}  // namespace

TEST(AutoTypeSequence, TheDefaultTypesUserTabPasswordEnter)
{
    TypingPlan plan;
    ASSERT_EQ(SequenceProblem::kNone, plan_entry(kEntries.children[0], 0, plan).problem);
    // The first password line counts; a character outside the BMP is one action of two units.
    EXPECT_EQ("ada<TAB>p<00E4>ss<D834 DD1E><ENTER>", shown(plan));
    EXPECT_EQ(10u, plan.keystrokes());

    ASSERT_EQ(SequenceProblem::kNone, plan_entry(kEntries.children[2], 0, plan).problem);
    EXPECT_EQ("<TAB>bob<250 ms> {x}<ENTER>", shown(plan));
    EXPECT_EQ(9u, plan.keystrokes());
}

TEST(AutoTypeSequence, PlaceholdersAndTheirProblems)
{
    const TreeNode& mail = kEntries.children[0];
    const struct {
        const char* sequence;
        SequenceProblem problem;
        const char* typed;  // or the problem's detail
    } cases[] = {
        {"{URL}", SequenceProblem::kNone, "https://mail.example"},
        // The secret at T = 59 s (counter 1), six digits, as Python's hmac module gives it.
        {"{TOTP}{Enter}", SequenceProblem::kNone, "996554<ENTER>"},
        {"a}b{}}", SequenceProblem::kNone, "a}b}"},
        {"{DELAY 0}{DELAY 10000}", SequenceProblem::kNone, "<0 ms><10000 ms>"},
        {"{DELAY 10001}", SequenceProblem::kBadDelay, "{DELAY 10001}"},
        {"{DELAY -1}", SequenceProblem::kBadDelay, "{DELAY -1}"},
        {"{DELAY}", SequenceProblem::kBadDelay, "{DELAY}"},
        {"{DELAY 99999999999}", SequenceProblem::kBadDelay, "{DELAY 99999999999}"},
        {"x{PASSWORT}", SequenceProblem::kUnknownPlaceholder, "{PASSWORT}"},
        {"{}", SequenceProblem::kUnknownPlaceholder, "{}"},
        {"{USERNAME", SequenceProblem::kUnclosedBrace, "{USERNAME"},
        {"  ", SequenceProblem::kEmptySequence, ""},
    };
    for (const auto& c : cases) {
        TypingPlan plan;
        plan.add_text("left over");
        const SequenceResult result = plan_sequence(c.sequence, mail, 59, plan);
        EXPECT_EQ(c.problem, result.problem) << c.sequence;
        if (c.problem == SequenceProblem::kNone) {
            EXPECT_EQ(c.typed, shown(plan)) << c.sequence;
        } else {
            EXPECT_EQ(c.typed, result.detail) << c.sequence;
            EXPECT_EQ(0u, plan.size()) << c.sequence;  // nothing of it is typed
            EXPECT_NE("", sequence_problem_text(result)) << c.sequence;
        }
    }
}

TEST(AutoTypeSequence, NothingIsTypedWithoutThePasswordOrCode)
{
    TypingPlan plan;
    SequenceResult result = plan_entry(kEntries.children[1], 0, plan);
    EXPECT_EQ(SequenceProblem::kEmptyPassword, result.problem);
    EXPECT_EQ("The auto-type sequence types {PASSWORD}, but this entry has no password. Nothing was typed.",
              sequence_problem_text(result));
    result = plan_sequence("{TOTP}", kEntries.children[2], 0, plan);
    EXPECT_EQ(SequenceProblem::kOneTimeCode, result.problem);
    EXPECT_EQ("The auto-type sequence types {TOTP}: This entry has no one-time secret. Nothing was typed.",
              sequence_problem_text(result));
    // A password line without a value is no password either.
    const Tree empty = parse_tree("e\n\tpassword: \n\tuser: u\n");
    EXPECT_EQ(SequenceProblem::kEmptyPassword, plan_entry(empty.children[0], 0, plan).problem);
    EXPECT_EQ(0u, plan.size());
}

// Ctrl+Enter and a path typed into the picker: a value as it stands, an entry by its
// sequence, anything else nothing.
TEST(AutoTypeSequence, NodesChosenByHand)
{
    const Tree root = parse_tree("note: {PASSWORD} is literal\nmail\n\tuser: u\n\tpass: p\nfolder\n\tchild\nempty: \n");
    TypingPlan plan;
    ASSERT_EQ(SequenceProblem::kNone, plan_node(root.children[0], 0, plan).problem);
    EXPECT_EQ("{PASSWORD} is literal", shown(plan));
    ASSERT_EQ(SequenceProblem::kNone, plan_node(root.children[1], 0, plan).problem);
    EXPECT_EQ("u<TAB>p<ENTER>", shown(plan));
    EXPECT_EQ(SequenceProblem::kNothingToType, plan_node(root.children[2], 0, plan).problem);
    EXPECT_EQ(0u, plan.size());
    EXPECT_EQ(SequenceProblem::kNothingToType, plan_node(root.children[3], 0, plan).problem);
    EXPECT_EQ(SequenceProblem::kNothingToType, plan_node(root, 0, plan).problem);
}

// Each unit down and up, a surrogate pair as its two units one after the other; the
// keys by their virtual-key codes; nothing for a delay.
TEST(AutoTypeSequence, KeyRecords)
{
    TypingPlan plan;
    plan.add_text("\xE2\x82\xAC\xF0\x9F\x94\x91");  // U+20AC, U+1F511
    plan.add_key(kVirtualKeyEnter);
    plan.add_delay(5);
    plan.add_text("\xFF");  // not UTF-8: U+FFFD
    ASSERT_EQ(5u, plan.size());
    KeyRecord records[kMaxKeyRecords];
    std::string seen;
    for (std::size_t i = 0; i < plan.size(); ++i) {
        const std::size_t n = key_records(plan[i], records);
        for (std::size_t k = 0; k < n; ++k) {
            char text[32];
            std::snprintf(text, sizeof text, "%s%04X%s ", records[k].unicode ? "u" : "vk",
                          records[k].unicode ? records[k].unit : records[k].virtual_key, records[k].key_up ? "^" : "v");
            seen += text;
        }
        seen += "| ";
    }
    EXPECT_EQ("u20ACv u20AC^ | uD83Dv uD83D^ uDD11v uDD11^ | vk000Dv vk000D^ | | uFFFDv uFFFD^ | ", seen);
}

// A long text grows the plan through several reallocations intact.
TEST(AutoTypeSequence, PlansGrowAndMove)
{
    std::string text;
    for (int i = 0; i < 1000; ++i) text += static_cast<char>('a' + i % 26);
    TypingPlan plan;
    plan.add_text(text);
    TypingPlan moved(std::move(plan));
    EXPECT_EQ(0u, plan.size());
    ASSERT_EQ(1000u, moved.size());
    EXPECT_EQ(text, shown(moved));
}

TEST(AutoTypeIntegrity, OnlySameOrLowerLevelsAreTypedInto)
{
    using State = IntegrityReading::State;
    const IntegrityReading medium{State::kRead, 0x2000};
    const IntegrityReading high{State::kRead, 0x3000};
    const IntegrityReading low{State::kRead, 0x1000};
    const IntegrityReading denied{State::kAccessDenied, 0};
    const IntegrityReading failed{State::kFailed, 0};
    EXPECT_TRUE(decide_integrity(medium, medium).allowed);
    EXPECT_TRUE(decide_integrity(medium, low).allowed);
    EXPECT_TRUE(decide_integrity(high, medium).allowed);
    EXPECT_EQ(kTargetElevatedText, decide_integrity(medium, high).reason);
    EXPECT_FALSE(decide_integrity(medium, high).allowed);
    EXPECT_EQ(kTargetDeniedText, decide_integrity(medium, denied).reason);
    EXPECT_EQ(kTargetUnknownText, decide_integrity(medium, failed).reason);
    EXPECT_EQ(kTargetUnknownText, decide_integrity(failed, medium).reason);
    EXPECT_FALSE(decide_integrity(failed, medium).allowed);
}
