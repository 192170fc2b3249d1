# Doxygen input filter for include/qarnplus/records.h. The record layouts are
# documented by plain comments (one above each record, one beside each field),
# which stay readable in the header; this turns them into documentation
# comments and drops the compile-time layout checks, which are not interface.
# Line numbers are kept, so warnings point at the real line.

# The file comment, up to the first blank line, which names it the file's.
2,/^$/ {
  s|^// ?|/// |
  s|^$|/// \\file|
  b
}
# A comment above a declaration (column 0).
s|^// ?|/// |
# A comment beside a field, and its continuation lines.
s|^( +[^ /].*;) *// ?|\1  ///< |
s|^( +)// ?|\1///< |
# The layout checks.
/^static_assert\(/ s|.*||
/^QARN_(RECORD_SIZE|FIELD_AT)\(/ s|.*||
/^#define QARN_(RECORD_SIZE|FIELD_AT)/,/[^\\]$/ s|.*||
/^#undef QARN_/ s|.*||
