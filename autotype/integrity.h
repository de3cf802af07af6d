#pragma once
// Whether auto-type may type into a window of a program that runs at another
// integrity level. Windows drops keys sent to a program of a higher level without
// an error, so such a target is refused before anything is typed, as is one whose
// level cannot be read (another user's program, an elevated one that denies access).

#include <cstdint>

// One process's level as read from its token: a mandatory-label RID (0x2000 medium,
// 0x3000 high, ...), or why it could not be read.
struct IntegrityReading {
    enum class State { kRead, kAccessDenied, kFailed };
    State state = State::kFailed;
    std::uint32_t level = 0;
};

struct IntegrityDecision {
    bool allowed = false;
    const char* reason = nullptr;  // the message when refused
};

IntegrityDecision decide_integrity(const IntegrityReading& own, const IntegrityReading& target) noexcept;

inline constexpr char kTargetElevatedText[] =
    "The window in front belongs to a program that runs with higher rights than Glimkeep (as administrator). "
    "Windows would drop the typed keys without an error, so nothing was typed.";
inline constexpr char kTargetDeniedText[] =
    "The window in front belongs to a program whose rights Glimkeep may not read (another user's, or one run as "
    "administrator). Windows could drop the typed keys without an error, so nothing was typed.";
inline constexpr char kTargetUnknownText[] =
    "Glimkeep could not find out with which rights the program in front runs. Windows could drop the typed keys "
    "without an error, so nothing was typed.";
