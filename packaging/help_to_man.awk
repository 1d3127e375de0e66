# Turns a program's --help text into a man page (troff, man macros), so that the page says what
# the program says and cannot drift from it.
#
# Variables (awk -v): prog (the program's name), date, source (e.g. "Magnet Finder 0.3.0"),
# summary (the NAME line's text, used when the help has no NAME section), see_also (program
# names separated by spaces, each of section 1).
#
# Two layouts are understood:
# - man-like: headings in capitals at the start of a line (NAME, SYNOPSIS, OPTIONS, ...), the
#   text under them indented;
# - usage-like: "Usage: PROG ..." first, then a paragraph (DESCRIPTION), indented option rows
#   (OPTIONS), and paragraphs that start with "Label: " (a section of that name) or with none
#   (NOTES).
# In both, an indented line whose first words are followed by two or more spaces is a row: the
# words are its tag, the rest (and the more indented lines under it) its description. An indented
# line followed by a more indented one is a row with its description underneath. SYNOPSIS and
# EXAMPLE keep their line breaks; all other text is filled.

function escape(text) {
  gsub(/\\/, "\\\\e", text)
  gsub(/-/, "\\-", text)
  return text
}

function line_start(text) {
  return text ~ /^[.']/ ? "\\&" text : text
}

# Options in bold, placeholders (words in capitals) in italics, names in capitals with an
# underscore (environment variables) in bold.
function words(text, first_bold,    count, parts, i, out, word, lead, trail, core) {
  count = split(text, parts, / /)
  out = ""
  for (i = 1; i <= count; i++) {
    word = parts[i]
    lead = ""
    trail = ""
    if (match(word, /^[[(|]+/)) {
      lead = substr(word, 1, RLENGTH)
      word = substr(word, RLENGTH + 1)
    }
    if (match(word, /[])|,]+$/)) {
      trail = substr(word, RSTART)
      word = substr(word, 1, RSTART - 1)
    }
    core = escape(word)
    if (word ~ /^-/ || (i == 1 && first_bold) || word ~ /^[A-Z][A-Z0-9]*_[A-Z0-9_]*$/) {
      core = "\\fB" core "\\fR"
    } else if (word ~ /^[A-Z][A-Z0-9]*$/) {
      core = "\\fI" core "\\fR"
    }
    out = out (i > 1 ? " " : "") escape(lead) core escape(trail)
  }
  return out
}

function indent_of(text) {
  match(text, /^ */)
  return RLENGTH
}

function end_nofill() {
  if (nofill) {
    print ".fi"
    nofill = 0
  }
}

function heading(name) {
  end_nofill()
  print ".SH " (name ~ / / ? "\"" name "\"" : name)
  section = name
  row_indent = -1
  pending_break = 0
  if (name == "SYNOPSIS" || name ~ /^EXAMPLES?$/) {
    print ".nf"
    nofill = 1
  }
}

function prose(text) {
  if (pending_break && !nofill) {
    print ".PP"
  } else if (pending_break) {
    print ""
  }
  pending_break = 0
  row_indent = -1
  if (section == "SYNOPSIS") {
    print line_start(words(text, text ~ ("^" prog "( |$)")))
  } else {
    print line_start(escape(text))
  }
}

function row(indent, tag, description) {
  print ".TP"
  print line_start(words(tag, 0))
  if (description != "") {
    print line_start(escape(description))
  }
  row_indent = indent
  pending_break = 0
}

{ lines[++count] = $0 }

END {
  usage = lines[1] ~ /^Usage: /
  printf ".TH %s 1 \"%s\" \"%s\" \"User Commands\"\n", toupper(escape(prog)), date, source
  if (usage) {
    heading("NAME")
    print escape(prog) " \\- " escape(summary)
  }
  for (i = 1; i <= count; i++) {
    text = lines[i]
    if (text ~ /^ *$/) {
      pending_break = 1
      continue
    }
    indent = indent_of(text)
    body = substr(text, indent + 1)
    next_indent = (i < count && lines[i + 1] !~ /^ *$/) ? indent_of(lines[i + 1]) : -1
    if (!usage && indent == 0 && text ~ /^[A-Z][A-Z ]*[A-Z]$/) {
      heading(text)
    } else if (usage && i == 1) {
      heading("SYNOPSIS")
      prose(substr(body, 8))
    } else if (usage && indent == 0 && match(body, /^[A-Z][a-z]+( [a-z]+)?: /)) {
      heading(toupper(substr(body, 1, RLENGTH - 2)))
      prose(substr(body, RLENGTH + 1))
    } else if (row_indent >= 0 && indent > row_indent) {
      print line_start(escape(body))
    } else if (!nofill && indent > 0 && match(body, /  +/)) {
      if (usage && section != "OPTIONS") {
        heading("OPTIONS")
      }
      tag = substr(body, 1, RSTART - 1)
      row(indent, tag, substr(body, RSTART + RLENGTH))
    } else if (!nofill && indent > 0 && next_indent > indent) {
      row(indent, body, "")
    } else {
      if (usage && section == "SYNOPSIS") {
        heading("DESCRIPTION")
      } else if (usage && section == "OPTIONS" && pending_break) {
        heading("NOTES")
      }
      prose(body)
    }
  }
  end_nofill()
  if (see_also != "") {
    heading("SEE ALSO")
    count = split(see_also, names, / /)
    for (i = 1; i <= count; i++) {
      print "\\fB" escape(names[i]) "\\fR(1)" (i < count ? "," : "")
    }
  }
}
