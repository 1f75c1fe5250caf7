#include "run/RunRecord.h"

#include "base/IcuLibrary.h"
#include "base/Utf8.h"
#include "run/DurationText.h"

#include <cmath>
#include <limits>

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

// `text`, well-formed, cut after its first `count` grapheme clusters (code points where
// ICU or its break data is missing); none when it has no more than that.
std::optional<std::string> firstClusters(const std::string& text, int32_t count) {
    if (const IcuLibrary* icu = IcuLibrary::get()) {
        std::u16string units = icu->utf16(text);
        const auto size = static_cast<int32_t>(units.size());
        UErrorCode status = U_ZERO_ERROR;
        IcuLibrary::Owned<UBreakIterator> clusters(
            icu->ubrk_open(UBRK_CHARACTER, "", units.data(), size, &status), icu->ubrk_close);
        if (U_SUCCESS(status)) {
            int32_t offset = icu->ubrk_first(clusters.get());
            for (int32_t i = 0; i < count && offset != UBRK_DONE; ++i)
                offset = icu->ubrk_next(clusters.get());
            if (offset == UBRK_DONE || offset >= size)
                return std::nullopt;
            units.resize(static_cast<std::size_t>(offset));
            return icu->utf8(units);
        }
    }
    std::size_t offset = 0;
    for (int32_t i = 0; i < count && offset < text.size(); ++i)
        do
            ++offset;
        while (offset < text.size() && (static_cast<unsigned char>(text[offset]) & 0xC0) == 0x80);
    if (offset >= text.size())
        return std::nullopt;
    return text.substr(0, offset);
}

} // namespace

std::string RunRecord::notificationDetail(int limit) const {
    std::string head = failureMessage ? *failureMessage : resultText ? *resultText : "Finished.";
    if (warning)
        head += "\n\n" + *warning;
    const std::string body = utf8::repaired(utf8::trimmed(head, true));
    std::optional<std::string> kept = firstClusters(body, std::max(limit, 0));
    if (!kept)
        return body;
    if (std::size_t space = kept->rfind(' '); space != std::string::npos)
        kept->resize(space);
    // The start is trimmed already; this drops the blanks the cut left at the end.
    return std::string(utf8::trimmed(*kept, true)) + "\u2026";
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
