#include "check/Plan.h"

#include <nlohmann/json.hpp>

namespace qv::check {

namespace {

using Json = nlohmann::ordered_json;

const char* const kStepKinds[] = {
    "box", "run", "delete-folder", "remove-folder", "delete-file", "write-file", "rename",
    "rewrite-config", "remove-log", "set-value", "delete-key", "metabase-delete-key", "metabase-set-data",
    "current-directory", "note", "exit",
};

// The bytes back from JSON's characters; false for a character above 0xFF,
// which no byte of the code page was written as. The text is valid UTF-8:
// the parser has checked it.
bool Bytes(const std::string& utf8, std::string& bytes) {
    bytes.clear();
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            bytes.push_back(static_cast<char>(c));
        } else if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size()) {
            bytes.push_back(static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F)));
        } else {
            return false;
        }
    }
    return true;
}

// Reads fields one by one; the first fault found is the one reported.
class Reader {
public:
    bool Text(const Json& object, const char* name, std::string& out, const std::string& where, bool required = true) {
        const auto field = object.find(name);
        if (field == object.end()) return !required || Fail(where + "\"" + name + "\" is missing");
        if (!field->is_string()) return Fail(where + "\"" + name + "\" is not a string");
        if (!Bytes(field->get_ref<const std::string&>(), out))
            return Fail(where + "\"" + name + "\" holds a character that no code-page byte gives");
        return true;
    }
    bool Flag(const Json& object, const char* name, bool& out) {
        const auto field = object.find(name);
        if (field == object.end()) return Fail(std::string("\"") + name + "\" is missing");
        if (!field->is_boolean()) return Fail(std::string("\"") + name + "\" is not true or false");
        out = field->get<bool>();
        return true;
    }
    bool Steps(const Json& list, const std::string& where, std::vector<PlanStep>& steps) {
        if (!list.is_array()) return Fail(where + " is not a list");
        for (std::size_t i = 0; i < list.size(); ++i) {
            const Json& item = list[i];
            const std::string at = where + " step " + std::to_string(i + 1) + ": ";
            if (!item.is_object()) return Fail(at + "it is not an object");
            PlanStep step;
            if (!Text(item, "kind", step.kind, at) || !Text(item, "target", step.target, at) ||
                !Text(item, "detail", step.detail, at, false) || !Text(item, "value", step.value, at, false) ||
                !Text(item, "answer", step.answer, at, false) || !Text(item, "fails", step.fails, at, false) ||
                !Text(item, "question", step.question, at, false))
                return false;
            if (!IsStepKind(step.kind)) return Fail(at + "\"" + step.kind + "\" is no kind of step");
            const auto style = item.find("style");
            if (style != item.end()) {
                if (!style->is_number_unsigned() || style->get<unsigned long long>() > 0xFFFFFFFFull)
                    return Fail(at + "\"style\" is not a box's style");
                step.style = static_cast<unsigned>(style->get<unsigned long long>());
            }
            const auto identifier = item.find("identifier");
            if (identifier != item.end()) {
                if (!identifier->is_number_unsigned() || identifier->get<unsigned long long>() > 0xFFFFFFFFull)
                    return Fail(at + "\"identifier\" is not a metabase identifier");
                step.identifier = static_cast<unsigned long>(identifier->get<unsigned long long>());
            }
            steps.push_back(step);
        }
        return true;
    }
    bool Fail(const std::string& what) {
        if (error.empty()) error = what;
        return false;
    }
    std::string error;
};

bool Read(const Json& document, Plan& plan, Reader& reader) {
    if (!document.is_object()) return reader.Fail("it is not a plan: not a JSON object");
    const auto version = document.find("plan");
    if (version == document.end()) return reader.Fail("it is not a plan: it has no \"plan\" version");
    if (!version->is_number_integer()) return reader.Fail("\"plan\" is not a version number");
    if (version->get<long long>() != kPlanVersion)
        return reader.Fail("it is a plan of version " + std::to_string(version->get<long long>()) +
                           "; this program reads version " + std::to_string(kPlanVersion));
    if (!reader.Text(document, "listPath", plan.listPath, "") ||
        !reader.Text(document, "machineName", plan.machineName, "") ||
        !reader.Text(document, "time", plan.time, "") || !reader.Flag(document, "silent", plan.silent) ||
        !reader.Flag(document, "logStays", plan.logStays) || !reader.Flag(document, "listDeleted", plan.listDeleted))
        return false;
    for (const char* part : {"startup", "pieces", "cleanup"})
        if (document.find(part) == document.end()) return reader.Fail(std::string("\"") + part + "\" is missing");
    if (!reader.Steps(document["startup"], "\"startup\"", plan.steps)) return false;
    const Json& pieces = document["pieces"];
    if (!pieces.is_array()) return reader.Fail("\"pieces\" is not a list");
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const std::string where = "piece " + std::to_string(i + 1);
        if (!pieces[i].is_object() || pieces[i].find("steps") == pieces[i].end())
            return reader.Fail(where + " has no \"steps\"");
        if (!reader.Steps(pieces[i]["steps"], where, plan.steps)) return false;
    }
    return reader.Steps(document["cleanup"], "\"cleanup\"", plan.steps);
}

}  // namespace

bool IsStepKind(const std::string& kind) {
    for (const char* known : kStepKinds)
        if (kind == known) return true;
    return false;
}

bool ReadPlan(const std::string& text, Plan& plan, std::string& error) {
    plan = Plan();
    Reader reader;
    try {
        const Json document = Json::parse(text);
        if (Read(document, plan, reader)) return true;
        error = reader.error;
    } catch (const Json::parse_error& e) {
        error = e.byte > text.size() ? "it is not JSON: it ends before the document does (cut short?)"
                                     : "it is not JSON: it stops making sense at byte " + std::to_string(e.byte);
    } catch (const std::exception&) {
        error = "it cannot be read as a plan";
    }
    plan = Plan();
    return false;
}

std::string JsonText(const std::string& bytes) {
    std::string utf8;
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            utf8.push_back(static_cast<char>(c));
        } else {
            utf8.push_back(static_cast<char>(0xC0 | (c >> 6)));
            utf8.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return utf8;
}

}  // namespace qv::check
