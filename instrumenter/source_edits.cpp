// The rewrite layer: spans of the main file and the edits around them.
#include "source_edits.h"

#include <algorithm>

#include <clang/AST/ASTContext.h>
#include <clang/AST/Stmt.h>
#include <clang/Basic/SourceManager.h>
#include <clang/Lex/Lexer.h>

namespace kivinst {

using namespace clang;

SourceEdits::SourceEdits(ASTContext& ctx, const std::map<unsigned, char>& conditionals)
    : ctx_(ctx), sm_(ctx.getSourceManager()), conditionals_(conditionals) {}

Span SourceEdits::span(SourceRange range) const {
    Span s;
    CharSourceRange r = Lexer::makeFileCharRange(CharSourceRange::getTokenRange(range), sm_, ctx_.getLangOpts());
    if (r.isInvalid() || !sm_.isWrittenInMainFile(r.getBegin()) || !sm_.isWrittenInMainFile(r.getEnd())) return s;
    // makeFileCharRange also maps a construct within one macro argument
    // to the argument's text; only whole invocations are taken.
    if (range.getBegin().isMacroID() && r.getBegin() != sm_.getExpansionLoc(range.getBegin())) return s;
    if (range.getEnd().isMacroID()) {
        const SourceLocation last = sm_.getExpansionRange(range.getEnd()).getEnd();
        if (r.getEnd() != Lexer::getLocForEndOfToken(last, 0, sm_, ctx_.getLangOpts())) return s;
    }
    s.begin = sm_.getFileOffset(r.getBegin());
    s.end = sm_.getFileOffset(r.getEnd());
    s.ok = sm_.getFileID(r.getBegin()) == sm_.getMainFileID() && s.begin <= s.end;
    if (s.ok) s.directive = straddled(s.begin, s.end);
    s.ok = s.ok && !s.directive;
    return s;
}

// Text that holds an unbalanced part of an #if group (a branch of it, or
// its #else or #endif) would take a probe's opening in one configuration
// and its closing in another: the line of the first such directive, or 0.
unsigned SourceEdits::straddled(unsigned begin, unsigned end) const {
    std::vector<unsigned> open;  // #if groups opened inside, not yet closed
    for (auto it = conditionals_.lower_bound(begin); it != conditionals_.end() && it->first < end; ++it) {
        if (it->second == '(')
            open.push_back(it->first);
        else if (open.empty())
            return sm_.getLineNumber(sm_.getMainFileID(), it->first);
        else if (it->second == ')')
            open.pop_back();
    }
    return open.empty() ? 0 : sm_.getLineNumber(sm_.getMainFileID(), open.front());
}

std::optional<unsigned> SourceEdits::after_token(SourceLocation loc) const {
    if (loc.isMacroID() || !sm_.isWrittenInMainFile(loc)) return std::nullopt;
    return sm_.getFileOffset(Lexer::getLocForEndOfToken(loc, 0, sm_, ctx_.getLangOpts()));
}

unsigned SourceEdits::statement_end(const Stmt* s) const {
    const SourceLocation end = sm_.getExpansionRange(s->getEndLoc()).getEnd();
    SourceLocation semi = Lexer::findLocationAfterToken(end, tok::semi, sm_, ctx_.getLangOpts(), false);
    return sm_.getFileOffset(semi.isValid() ? semi : Lexer::getLocForEndOfToken(end, 0, sm_, ctx_.getLangOpts()));
}

std::string SourceEdits::text(Span s) const {
    StringRef buf = sm_.getBufferData(sm_.getMainFileID());
    std::string text;
    bool space = false;
    for (char c : buf.substr(s.begin, s.end - s.begin)) {
        if (c == '\n' || c == '\t' || c == ' ' || c == '\r') {
            space = true;
            continue;
        }
        if (space && !text.empty()) text += ' ';
        space = false;
        text += c == '"' ? '\'' : c;
    }
    return text;
}

void SourceEdits::insert(unsigned offset, EditGroup group, int depth, std::string text) {
    edits_.push_back({offset, group, depth, seq_++, 0, std::move(text)});
}

void SourceEdits::wrap(Span s, int depth, std::string open, std::string close) {
    insert(s.begin, kOpen, depth, std::move(open));
    insert(s.end, kClose, depth, std::move(close));
}

void SourceEdits::replace(unsigned offset, unsigned length, int depth, std::string text) {
    edits_.push_back({offset, kReplace, depth, seq_++, length, std::move(text)});
}

std::string SourceEdits::apply() {
    std::stable_sort(edits_.begin(), edits_.end(), [](const Edit& a, const Edit& b) {
        if (a.offset != b.offset) return a.offset < b.offset;
        if (a.group != b.group) return a.group < b.group;
        if (a.depth != b.depth) return a.group == kClose ? a.depth > b.depth : a.depth < b.depth;
        return a.seq < b.seq;
    });
    StringRef buf = sm_.getBufferData(sm_.getMainFileID());
    std::string result;
    unsigned pos = 0;
    for (const Edit& e : edits_) {
        if (e.offset > pos) result.append(buf.data() + pos, e.offset - pos), pos = e.offset;
        result += e.text;
        if (e.group == kReplace) pos = std::max(pos, e.offset + e.length);
    }
    result.append(buf.data() + pos, buf.size() - pos);
    return result;
}

}  // namespace kivinst
