#include "run/RunRecord.h"

#include "base/Utf8.h"
#include "run/DurationText.h"

#include <cmath>
#include <limits>
#include <memory>
#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

namespace marrowbell {

RunRecord RunRecord::bounded() const {
    RunRecord record = *this;
    auto cap = [](std::optional<std::string>& text, std::size_t limit) {
        if (text && text->size() > limit)
            text = utf8::capped(*text, limit);
    };
    cap(record.resultText, resultTextLimit);
    cap(record.failureMessage, messageLimit);
    cap(record.warning, messageLimit);
    return record;
}

bool RunRecord::succeeded() const {
    return exitCode == 0 && !timedOut && !wasCancelled && !failureMessage;
}

std::string RunRecord::outcomeSummary() const {
    std::string took = readable(duration);
    if (wasCancelled)
        return "Cancelled after " + took;
    if (timedOut)
        return "Stopped at its time limit after " + took;
    if (exitCode != 0 || failureMessage)
        return "Failed after " + took;
    return "Finished in " + took;
}

std::string RunRecord::summary() const {
    if (failureMessage)
        return *failureMessage;
    if (warning)
        return *warning;
    if (resultText && !resultText->empty())
        return *resultText;
    return "Finished.";
}

namespace {

bool isWhiteSpace(UChar32 c) {
    return u_hasBinaryProperty(c, UCHAR_WHITE_SPACE);
}

void trimEnd(icu::UnicodeString& text) {
    int32_t end = text.length();
    while (end > 0) {
        int32_t before = text.moveIndex32(end, -1);
        if (!isWhiteSpace(text.char32At(before)))
            break;
        end = before;
    }
    text.truncate(end);
}

// The UTF-16 offset just past the first `count` grapheme clusters, or none when the
// text has no more than `count` of them.
std::optional<int32_t> endOfClusters(const icu::UnicodeString& text, int32_t count) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> clusters(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status)) {
        // Without break data, code points are the closest measure left.
        if (text.countChar32() <= count)
            return std::nullopt;
        return text.moveIndex32(0, count);
    }
    clusters->setText(text);
    int32_t offset = clusters->first();
    for (int32_t i = 0; i < count; ++i) {
        offset = clusters->next();
        if (offset == icu::BreakIterator::DONE)
            return std::nullopt;
    }
    if (offset >= text.length())
        return std::nullopt;
    return offset;
}

} // namespace

std::string RunRecord::notificationDetail(int limit) const {
    std::string head = failureMessage ? *failureMessage : resultText ? *resultText : "Finished.";
    if (warning)
        head += "\n\n" + *warning;
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(std::string(utf8::trimmed(head, true)));
    std::optional<int32_t> cut = endOfClusters(text, std::max(limit, 0));
    std::string out;
    if (!cut)
        return text.toUTF8String(out);
    text.truncate(*cut);
    if (int32_t space = text.lastIndexOf(u' '); space >= 0)
        text.truncate(space);
    trimEnd(text);
    text.toUTF8String(out);
    return out + "\u2026";
}

static double finiteOrZero(double value) {
    return std::isfinite(value) ? value : 0.0;
}

Json RunRecord::toJson() const {
    Json o = Json::object();
    o["id"] = id.text();
    o["jobID"] = jobID.text();
    o["startedAt"] = finiteOrZero(startedAt.sinceReference);
    o["duration"] = finiteOrZero(duration);
    o["exitCode"] = exitCode;
    o["timedOut"] = timedOut;
    o["wasCancelled"] = wasCancelled;
    if (inputTokens)
        o["inputTokens"] = *inputTokens;
    if (outputTokens)
        o["outputTokens"] = *outputTokens;
    if (resultText)
        o["resultText"] = *resultText;
    if (failureMessage)
        o["failureMessage"] = *failureMessage;
    if (warning)
        o["warning"] = *warning;
    return o;
}

RunRecord RunRecord::fromJson(const Json& value) {
    const Json& o = json::object(value, "a run record");
    RunRecord r; // a new identifier unless the record carries one
    if (std::optional<Uuid> id = json::optionalUuid(o, "id"))
        r.id = *id;
    r.jobID = json::requiredUuid(o, "jobID");
    r.startedAt = json::requiredInstant(o, "startedAt");
    r.duration = json::requiredDouble(o, "duration");
    std::int64_t exitCode = json::requiredInt(o, "exitCode");
    if (exitCode < std::numeric_limits<std::int32_t>::min() ||
        exitCode > std::numeric_limits<std::int32_t>::max())
        throw DecodeError("\"exitCode\" is out of range");
    r.exitCode = static_cast<std::int32_t>(exitCode);
    r.timedOut = json::requiredBool(o, "timedOut");
    r.wasCancelled = json::optionalBool(o, "wasCancelled").value_or(false);
    r.inputTokens = json::optionalInt(o, "inputTokens");
    r.outputTokens = json::optionalInt(o, "outputTokens");
    r.resultText = json::optionalString(o, "resultText");
    r.failureMessage = json::optionalString(o, "failureMessage");
    r.warning = json::optionalString(o, "warning");
    return r;
}

} // namespace marrowbell
