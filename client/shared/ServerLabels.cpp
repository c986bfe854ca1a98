#include <client/shared/ServerLabels.h>

#include <client/SharedOperations.h>
#include <client/Text.h>
#include <client/shared/ServerConnection.h>

namespace client {

namespace {

// A label's columns and the server's head, each bounded on the server: a name of at most 100
// characters takes at most 400 bytes, and an author is a role's name (63 bytes at most). A longer
// value, which only a hand-edited row can hold, comes as NULL and is refused.
constexpr const char* kColumns =
    "CASE WHEN octet_length(l.name) <= 400 THEN l.name END, l.commit_id, "
    "CASE WHEN octet_length(l.author) <= 128 THEN l.author END, "
    "to_char(l.made AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"'), "
    "(SELECT h.id FROM rvk.head h)";

// The length of the UTF-8 sequence that begins with `byte`, or 0 when none begins so.
std::size_t sequenceLength(unsigned char byte) {
    if (byte < 0x80)
        return 1;
    if (byte >= 0xc2 && byte <= 0xdf)
        return 2;
    if (byte >= 0xe0 && byte <= 0xef)
        return 3;
    if (byte >= 0xf0 && byte <= 0xf4)
        return 4;
    return 0;
}

// The code points of `text`, or none when it is not well-formed UTF-8 (overlong forms and
// surrogates included, which PostgreSQL refuses as well).
boost::optional<std::u32string> codePoints(const std::string& text) {
    std::u32string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = sequenceLength(lead);
        if (length == 0 || i + length > text.size())
            return boost::none;
        char32_t c = length == 1 ? lead : lead & (0x7f >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xc0) != 0x80)
                return boost::none;
            c = (c << 6) | (next & 0x3f);
        }
        const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < least[length] || c > 0x10ffff || (c >= 0xd800 && c <= 0xdfff))
            return boost::none;
        out.push_back(c);
        i += length;
    }
    return out;
}

ErrorMessage badRow(const std::string& what) {
    return hostError("the server holds a label " + what + ", which no label may have");
}

// The label in columns 0 to 3 of `row`, checked against the server's head in column 4.
Expected<LabelRecord> record(const QueryResult& rows, int row) {
    if (rows.isNull(row, 0) || rows.isNull(row, 2) || rows.isNull(row, 1) || rows.isNull(row, 3))
        return badRow("with a name or an author longer than any may be");
    LabelRecord label{rows.text(row, 0), 0, rows.text(row, 2), rows.text(row, 3)};
    if (const auto problem = labelNameProblem(label.name))
        return hostError("the server holds a label named " + quoteName(shortened(label.name)) +
                         ", which no label may be: " + *problem);
    if (label.author.empty() || !codePoints(label.author))
        return badRow("whose author is empty or not UTF-8");
    const std::int64_t commit = rows.integer(row, 1);
    const std::int64_t head = rows.isNull(row, 4) ? 0 : rows.integer(row, 4);
    if (commit < 1 || commit > head)
        return hostError("the server's label " + quoteName(label.name) + " names commit " +
                         std::to_string(commit) + ", which its history does not hold");
    label.commit = static_cast<std::uint64_t>(commit);
    return label;
}

Expected<std::vector<LabelRecord>> records(const QueryResult& rows) {
    std::vector<LabelRecord> found;
    for (int i = 0; i < rows.rows(); ++i) {
        auto label = record(rows, i);
        if (!label.hasValue())
            return label.error();
        found.push_back(std::move(label.value()));
    }
    return found;
}

}  // namespace

boost::optional<std::string> labelNameProblem(const std::string& name) {
    if (name.empty())
        return std::string("it is empty");
    const auto characters = codePoints(name);
    if (!characters)
        return std::string("it is not UTF-8 text");
    if (characters->size() > kLabelLimit)
        return std::string("it is longer than 100 characters");
    bool digits = true;
    for (const char32_t c : *characters) {
        // C0 (NUL included, which the server cannot even take), DEL and C1.
        if (c < 0x20 || (c >= 0x7f && c <= 0x9f))
            return std::string("it holds a control character");
        if (c == '"' || c == '\'' || c == '`')
            return std::string("it holds a quotation mark");
        digits = digits && c >= '0' && c <= '9';
    }
    if (characters->front() == ' ' || characters->back() == ' ')
        return std::string("it begins or ends with a space");
    if (digits)
        return std::string("it is a number, which names a commit");
    return boost::none;
}

Expected<std::vector<LabelRecord>> allLabels(ServerConnection& server) {
    auto rows = server.query(std::string("SELECT ") + kColumns +
                             " FROM rvk.labels l ORDER BY l.commit_id, convert_to(l.name, 'UTF8')");
    if (!rows.hasValue())
        return rows.error();
    return records(rows.value());
}

Expected<std::vector<LabelRecord>> labelsBetween(ServerConnection& server, std::uint64_t after,
                                                 std::uint64_t upTo) {
    auto rows = server.query(std::string("SELECT ") + kColumns +
                                 " FROM rvk.labels l WHERE l.commit_id > $1 AND l.commit_id <= $2"
                                 " ORDER BY l.commit_id, convert_to(l.name, 'UTF8')",
                             {static_cast<std::int64_t>(after), static_cast<std::int64_t>(upTo)});
    if (!rows.hasValue())
        return rows.error();
    return records(rows.value());
}

Expected<boost::optional<LabelRecord>> findLabel(ServerConnection& server,
                                                 const std::string& name) {
    auto rows = server.query(
        std::string("SELECT ") + kColumns + " FROM rvk.labels l WHERE l.name = $1", {name});
    if (!rows.hasValue())
        return rows.error();
    auto found = records(rows.value());
    if (!found.hasValue())
        return found.error();
    if (found.value().empty())
        return boost::optional<LabelRecord>();
    return boost::optional<LabelRecord>(std::move(found.value().front()));
}

Expected<MadeLabel> makeLabel(ServerConnection& server, const std::string& name,
                              std::uint64_t commit) {
    auto rows = server.query(
        "SELECT CASE WHEN octet_length($1::text) <= 400 THEN $1::text END, m.on_commit, "
        "       CASE WHEN octet_length(m.made_by) <= 128 THEN m.made_by END, m.made_at, "
        "       (SELECT h.id FROM rvk.head h), m.was_made "
        "FROM rvk.make_label($1, $2) m",
        {name, static_cast<std::int64_t>(commit)});
    if (!rows.hasValue())
        return rows.error();
    const QueryResult& r = rows.value();
    // The label stays where the server has it; a row goes only when a member of rvk_admin
    // removed it at that moment.
    if (r.rows() != 1)
        return hostError("the label " + quoteName(name) +
                         " was removed again as it was made: try again");
    auto label = record(r, 0);
    if (!label.hasValue())
        return label.error();
    return MadeLabel{r.text(0, 5) == "t", std::move(label.value())};
}

Expected<bool> moveLabel(ServerConnection& server, const std::string& name,
                         boost::optional<std::uint64_t> commit) {
    auto rows =
        server.query("SELECT rvk.move_label($1, $2)",
                     {name, commit ? Param(static_cast<std::int64_t>(*commit)) : Param::null()});
    if (!rows.hasValue())
        return rows.error();
    if (rows.value().rows() != 1 || rows.value().isNull(0, 0))
        return hostError("the server answered a move of a label with nothing");
    return rows.value().text(0, 0) == "t";
}

}  // namespace client
