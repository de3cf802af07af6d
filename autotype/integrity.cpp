#include "autotype/integrity.h"

IntegrityDecision decide_integrity(const IntegrityReading& own, const IntegrityReading& target) noexcept
{
    using State = IntegrityReading::State;
    if (target.state == State::kAccessDenied) return {false, kTargetDeniedText};
    if (target.state != State::kRead || own.state != State::kRead) return {false, kTargetUnknownText};
    if (target.level > own.level) return {false, kTargetElevatedText};
    return {true, nullptr};
}
