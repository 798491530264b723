// The statement splitter of the script runner: reads lexems, decides where a
// statement ends and what kind it is. The end test of a lexem always uses the
// body state left by the lexems before it, so the ";" after a body's last END
// ends the statement while the ones inside it do not.
#include "db/script_splitter.h"

#include "platform/unicode.h"
#include "rtl/text.h"

namespace kv {

std::string_view statement_kind_name(StatementKind k) noexcept {
    switch (k) {
    case StatementKind::Plain:
        return "plain";
    case StatementKind::Definition:
        return "definition";
    case StatementKind::DefinitionWithBody:
        return "definition-with-body";
    case StatementKind::BlockWithBody:
        return "block-with-body";
    case StatementKind::Commit:
        return "commit";
    case StatementKind::CommitRetaining:
        return "commit-retaining";
    case StatementKind::Rollback:
        return "rollback";
    case StatementKind::RollbackRetaining:
        return "rollback-retaining";
    case StatementKind::Savepoint:
        return "savepoint";
    case StatementKind::ReleaseSavepoint:
        return "release-savepoint";
    case StatementKind::RollbackToSavepoint:
        return "rollback-to-savepoint";
    case StatementKind::StartTransaction:
        return "start-transaction";
    case StatementKind::DelimiterChange:
        return "delimiter-change";
    case StatementKind::Option:
        return "option";
    case StatementKind::Connect:
        return "connect";
    case StatementKind::Reconnect:
        return "reconnect";
    case StatementKind::CreateDatabase:
        return "create-database";
    case StatementKind::DropDatabase:
        return "drop-database";
    case StatementKind::BatchStart:
        return "batch-start";
    case StatementKind::BatchExecute:
        return "batch-execute";
    case StatementKind::Comment:
        return "comment";
    }
    return "plain";
}

bool is_sent_kind(StatementKind k) noexcept {
    return k == StatementKind::Plain || k == StatementKind::BlockWithBody || is_definition_kind(k);
}

bool is_definition_kind(StatementKind k) noexcept {
    return k == StatementKind::Definition || k == StatementKind::DefinitionWithBody;
}

bool ScriptStatement::empty() const noexcept {
    for (unsigned char c : text)
        if (c > 32) return false;
    return true;
}

std::string crlf_line_breaks(std::string_view text) {
    const size_t size = text.size();
    std::string out;
    out.reserve(size + size / 32);
    for (size_t i = 0; i < size; ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            out += "\r\n";
            if (c == '\r' && i + 1 < size && text[i + 1] == '\n') ++i;
        } else {
            out += c;
        }
    }
    return out;
}

std::string prepare_script_text(std::string_view text) {
    size_t size = text.size();
    while (size > 0 && static_cast<unsigned char>(text[size - 1]) <= 32)
        --size;
    return crlf_line_breaks(text.substr(0, size));
}

void ScriptSplitter::Start(std::string_view text, std::string_view delimiter) {
    FParser.SetText(text);
    FInitialDelimiter = delimiter;
    FDelimiter = delimiter;
    FDone = false;
    FCursorByte = 0;
    FCursorChar = 0;
    FColumnLine = FColumnByte = FColumnChars = 0;
}

size_t ScriptSplitter::char_position(size_t byte_offset) {
    const std::string& src = FParser.Text();
    FCursorChar += utf16_length(std::string_view(src).substr(FCursorByte, byte_offset - FCursorByte));
    FCursorByte = byte_offset;
    return FCursorChar;
}

size_t ScriptSplitter::column_of(size_t byte_offset, size_t line_start) {
    if (line_start != FColumnLine || byte_offset < FColumnByte) {
        FColumnLine = FColumnByte = line_start;
        FColumnChars = 0;
    }
    FColumnChars +=
        utf16_length(std::string_view(FParser.Text()).substr(FColumnByte, byte_offset - FColumnByte));
    FColumnByte = byte_offset;
    return FColumnChars;
}

bool ScriptSplitter::is_delimiter_lexem(const Lexem& l, const Reading& r) const {
    if (l.kind == LexemKind::String || l.kind == LexemKind::End) return false;
    if (l.text == FDelimiter) return true;
    return FDelimiter.size() == 2 && l.text.size() == 1 && l.text[0] == FDelimiter[1] &&
           r.previous.size() == 1 && r.previous[0] == FDelimiter[0];
}

void ScriptSplitter::classify(const Lexem& l, Reading& r, ScriptStatement& st) const {
    if (l.kind == LexemKind::Blank) return;
    if (l.kind == LexemKind::Comment) {
        if (r.collecting_delimiter)
            r.new_delimiter += l.text;
        else if (r.lexem_no == 0)
            st.kind = StatementKind::Comment;
        return;
    }
    r.previous = l.text;
    if (r.collecting_delimiter) {
        r.new_delimiter += l.text;
        return;
    }
    const Keyword k = l.kind == LexemKind::Keyword ? l.keyword : Keyword::None;
    ++r.lexem_no;
    if (r.lexem_no == 1) {
        r.first = k;
        switch (k) {
        case Keyword::COMMIT:
            st.kind = StatementKind::Commit;
            break;
        case Keyword::ROLLBACK:
            st.kind = StatementKind::Rollback;
            break;
        case Keyword::SAVEPOINT:
            st.kind = StatementKind::Savepoint;
            break;
        case Keyword::CONNECT:
            st.kind = StatementKind::Connect;
            break;
        case Keyword::RECONNECT:
            st.kind = StatementKind::Reconnect;
            break;
        case Keyword::CREATE:
        case Keyword::ALTER:
        case Keyword::DROP:
        case Keyword::DECLARE:
        case Keyword::GRANT:
        case Keyword::REVOKE:
            st.kind = StatementKind::Definition;
            break;
        default:
            st.kind = StatementKind::Plain;
            break;
        }
        return;
    }
    if (r.lexem_no == 2) {
        r.second = k;
        switch (r.first) {
        case Keyword::COMMIT:
            if (k == Keyword::RETAIN) st.kind = StatementKind::CommitRetaining;
            break;
        case Keyword::ROLLBACK:
            if (k == Keyword::RETAIN) st.kind = StatementKind::RollbackRetaining;
            break;
        case Keyword::RELEASE:
            if (k == Keyword::SAVEPOINT) st.kind = StatementKind::ReleaseSavepoint;
            break;
        case Keyword::SET:
            if (k == Keyword::TRANSACTION) st.kind = StatementKind::StartTransaction;
            if (k == Keyword::AUTODDL || k == Keyword::NAMES) st.kind = StatementKind::Option;
            if (k == Keyword::GENERATOR) st.kind = StatementKind::Definition;
            if (k == Keyword::TERM) {
                st.kind = StatementKind::DelimiterChange;
                r.collecting_delimiter = true;
            }
            break;
        case Keyword::CREATE:
        case Keyword::ALTER:
            if (r.first == Keyword::CREATE && (k == Keyword::DATABASE || k == Keyword::SCHEMA))
                st.kind = StatementKind::CreateDatabase;
            if ((k == Keyword::PROCEDURE || k == Keyword::TRIGGER || k == Keyword::FUNCTION) &&
                FDelimiter == ";") {
                st.kind = StatementKind::DefinitionWithBody;
                r.has_body = true;
            }
            break;
        case Keyword::DROP:
            if (k == Keyword::DATABASE) st.kind = StatementKind::DropDatabase;
            break;
        case Keyword::EXECUTE:
            if (k == Keyword::BLOCK) {
                st.kind = StatementKind::BlockWithBody;
                r.has_body = true;
            }
            break;
        case Keyword::BATCH:
            if (k == Keyword::START) st.kind = StatementKind::BatchStart;
            if (k == Keyword::EXECUTE) st.kind = StatementKind::BatchExecute;
            break;
        default:
            break;
        }
        return;
    }
    if (r.lexem_no == 3) {
        if (k == Keyword::ALTER) {
            // CREATE OR ALTER: read on as if the statement began with ALTER.
            st.kind = StatementKind::Definition;
            r.lexem_no = 1;
            r.first = Keyword::ALTER;
            r.second = Keyword::None;
            r.has_body = false;
            return;
        }
        if (r.first == Keyword::ROLLBACK && r.second == Keyword::TO && k == Keyword::SAVEPOINT)
            st.kind = StatementKind::RollbackToSavepoint;
        if (r.first == Keyword::SET && r.second == Keyword::SQL && k == Keyword::DIALECT)
            st.kind = StatementKind::Option;
    }
    if (!r.has_body) return;
    switch (k) {
    case Keyword::AS:
        r.in_body = true;
        break;
    case Keyword::BEGIN:
    case Keyword::CASE:
        ++r.begin_count;
        break;
    case Keyword::END:
        if (--r.begin_count <= 0) r.in_body = false;
        break;
    default:
        break;
    }
}

bool ScriptSplitter::Next(ScriptStatement& out) {
    if (FDone) return false;
    const std::string& src = FParser.Text();
    ScriptStatement st;
    Reading r;
    bool started = false;
    bool cut_first_char = false;
    size_t text_end = 0;
    size_t end_line = 1, end_line_start = 0;

    for (;;) {
        const Lexem l = FParser.Next();
        const size_t at = FParser.LexemOffset();
        const size_t after = at + l.text.size();
        const size_t line_after = FParser.CurrentLine();
        const size_t line_start_after = FParser.CurrentOffset() - FParser.CurrentColumn();

        if (l.kind == LexemKind::End) {
            FDone = true;
            if (!started) return false;
            st.delimiter_offset = at;
            break;
        }
        if (!started) {
            if (l.kind == LexemKind::Blank) continue;
            started = true;
            st.offset = text_end = at;
            st.start_line = FParser.LexemLine();
            const size_t line_start = at - FParser.LexemColumn();
            st.start_column = column_of(at, line_start);
            end_line = st.start_line;
            end_line_start = line_start;
        }

        if (is_delimiter_lexem(l, r) && !inside_body(r)) {
            if (FDelimiter == ";" && same_text_ascii_fold(r.previous, "DELIMITER")) {
                // "DELIMITER ;x": the lexems up to the next blank belong to the
                // statement; only a lone ";" ends it.
                size_t joined_end = after;
                for (;;) {
                    const Lexem n = FParser.Next();
                    if (n.kind == LexemKind::End || n.kind == LexemKind::Blank) {
                        FParser.Back();
                        break;
                    }
                    joined_end = FParser.LexemOffset() + n.text.size();
                    end_line = FParser.CurrentLine();
                    end_line_start = FParser.CurrentOffset() - FParser.CurrentColumn();
                }
                if (joined_end != after) {
                    text_end = joined_end;
                    r.previous = std::string_view(src).substr(joined_end - 1, 1);
                    continue;
                }
            }
            st.delimiter_offset = at;
            st.delimiter_length = l.text.size();
            cut_first_char = l.text != FDelimiter;
            break;
        }

        if (FDelimiter == FInitialDelimiter && l.is(Symbol::Slash) && FParser.LexemColumn() == 0) {
            const Lexem n = FParser.Next();
            const bool line_break =
                n.kind == LexemKind::Blank && n.text.find_first_of("\r\n") != std::string_view::npos;
            if (n.kind == LexemKind::End || line_break) {
                st.delimiter_offset = at;
                st.delimiter_length = 1 + (line_break ? n.text.size() : 0);
                if (n.kind == LexemKind::End) FDone = true;
                break;
            }
            FParser.Back();
        }

        text_end = after;
        end_line = line_after;
        end_line_start = line_start_after;
        classify(l, r, st);
    }

    if (cut_first_char && text_end > st.offset && src[text_end - 1] == FDelimiter[0]) {
        --text_end;
        --st.delimiter_offset;
        ++st.delimiter_length;
    }
    st.text.assign(src, st.offset, text_end - st.offset);
    st.end = text_end;
    st.char_offset = char_position(st.offset);
    st.char_end = char_position(text_end);
    st.end_line = end_line;
    st.end_column = column_of(text_end, std::min(end_line_start, text_end));
    if (st.kind == StatementKind::DelimiterChange) {
        std::string& d = r.new_delimiter;
        if (FDelimiter.size() == 2 && !d.empty() && d.back() == FDelimiter[0]) d.pop_back();
        if (!d.empty()) FDelimiter = d;
    }
    out = std::move(st);
    return true;
}

} // namespace kv
