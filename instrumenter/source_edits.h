// The rewrite layer of the instrumenting pass: where in the main file's text a
// construct stands, and the insertions and replacements that wrap it, applied
// to the untouched text at the end. Nothing is ever edited inside a macro
// invocation or across a branch of a conditional directive.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include <clang/Basic/SourceLocation.h>

namespace clang {
class ASTContext;
class SourceManager;
class Stmt;
}  // namespace clang

namespace kivinst {

// A stretch of the main file's text.
struct Span {
    unsigned begin = 0, end = 0;
    bool ok = false;         // it is exactly the construct, and may be edited
    unsigned directive = 0;  // a conditional directive it straddles: its line, else 0
};

// Edits are sorted by offset; at one offset closings come first (innermost
// first), then a replaced span, then openings (outermost first). Statement
// markers sit at depth < 0, so they open before any expression wrapped there.
enum EditGroup { kClose = 0, kReplace = 1, kOpen = 2 };

class SourceEdits {
public:
    // conditionals: the main file's #if '(', #elif/#else '|' and #endif ')', by offset.
    SourceEdits(clang::ASTContext& ctx, const std::map<unsigned, char>& conditionals);

    // The text of the main file that is exactly the construct: written there
    // directly, or whole macro invocations at either end. A construct inside
    // an invocation (in the macro's body, or in an argument, which the macro
    // may expand twice or where inserted text changes its meaning) has none.
    Span span(clang::SourceRange range) const;
    // Just after a token written in the main file; none for a token from a
    // macro (a brace or a colon that a macro supplies).
    std::optional<unsigned> after_token(clang::SourceLocation loc) const;
    // The end of a statement with its semicolon, where one ends it: after
    // the whole macro invocation that ends it, never inside one.
    unsigned statement_end(const clang::Stmt* s) const;
    // The span's text on one line, white space runs as one space and '"' as
    // '\'', for the record tables.
    std::string text(Span s) const;

    void insert(unsigned offset, EditGroup group, int depth, std::string text);
    void wrap(Span s, int depth, std::string open, std::string close);
    // The `length` characters at offset become text.
    void replace(unsigned offset, unsigned length, int depth, std::string text);

    // The main file with every edit made.
    std::string apply();

private:
    unsigned straddled(unsigned begin, unsigned end) const;

    struct Edit {
        unsigned offset;
        EditGroup group;
        int depth;
        unsigned seq;
        unsigned length;  // replaced characters (kReplace)
        std::string text;
    };
    clang::ASTContext& ctx_;
    const clang::SourceManager& sm_;
    const std::map<unsigned, char>& conditionals_;
    std::vector<Edit> edits_;
    unsigned seq_ = 0;
};

}  // namespace kivinst
