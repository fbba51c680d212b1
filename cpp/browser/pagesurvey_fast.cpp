// The survey in one round trip a source: a page script gathers, for every
// match of the source's selector, the answers the per-element calls would
// give, in the order the rules ask them, and stops where the rules would
// drop the element. Where a script cannot reproduce Playwright's answer
// exactly (boxes off the 1/64 px grid or under a transform, elements outside
// XHTML, display:contents, a disabled state that needs the ARIA role, a
// field-label query that Playwright would answer from a shadow root) it
// answers 0 and that element is asked the usual way.
#include <algorithm>
#include <mutex>
#include <string>

#include "common/text.hpp"

#include "browser/pagesurvey.hpp"
#include "browser/pagesurvey_recorded.hpp"

namespace qv::browser {

namespace {

const char32_t kFastHelpersJs[] = UR"JS(
  const XHTML = 'http://www.w3.org/1999/xhtml';
  // The document path as _XPATH_JS computes it, with each parent's
  // children numbered in one pass and each path kept, so a page of
  // thousands of siblings costs linear time instead of quadratic.
  const steps = new Map();
  const paths = new Map();
  const stepOf = node => {
    let step = steps.get(node);
    if (step === undefined) {
      const counts = new Map();
      const parent = node.parentNode;
      const siblings = parent && parent.children ? parent.children : [node];
      for (const sib of siblings) {
        const n = (counts.get(sib.tagName) || 0) + 1;
        counts.set(sib.tagName, n);
        steps.set(sib, sib.tagName.toLowerCase() + '[' + n + ']');
      }
      step = steps.get(node);
    }
    return step;
  };
  const pathOf = el => {
    let path = paths.get(el);
    if (path === undefined) {
      const parent = el.parentElement;
      path = (parent ? pathOf(parent) : '') + '/' + stepOf(el);
      paths.set(el, path);
    }
    return path;
  };
  const FLAG = {};
  const styles = new Map();
  const styleOf = el => {
    let s = styles.get(el);
    if (s === undefined) {
      const view = el.ownerDocument && el.ownerDocument.defaultView;
      s = view ? view.getComputedStyle(el) : null;
      styles.set(el, s);
    }
    return s;
  };
  const up = el => el.parentElement ||
    (el.parentNode && el.parentNode.nodeType === 11 && el.parentNode.host) || null;
  const moved = new Map();
  const transformed = el => {
    if (!el) return false;
    let r = moved.get(el);
    if (r === undefined) {
      const s = styleOf(el);
      r = !!s && (s.transform !== 'none' || s.translate !== 'none' || s.rotate !== 'none' ||
                  s.scale !== 'none');
      r = r || transformed(up(el));
      moved.set(el, r);
    }
    return r;
  };
  // The surveyed element's client rect, asked once for both questions.
  let rectEl = null, rect = null;
  const rectOf = el => {
    if (el !== rectEl) {
      rect = el.getBoundingClientRect();
      rectEl = el;
    }
    return rect;
  };
  const visible = el => {
    const s = styleOf(el);
    if (!s) return true;
    if (s.display === 'contents') throw FLAG;
    if (!el.checkVisibility()) return false;
    if (s.visibility !== 'visible') return false;
    const r = rectOf(el);
    return r.width > 0 && r.height > 0;
  };
  const safeTag = el => {
    const t = el.tagName;
    const c = t.charCodeAt(0);
    return c >= 97 && c <= 122 ? t.toUpperCase() : t;
  };
  const ariaDisabledChain = el => {
    for (let e = el; e; e = up(e)) {
      const v = (e.getAttribute('aria-disabled') || '').toLowerCase();
      if (v === 'true') return true;
      if (v === 'false') return false;
    }
    return false;
  };
  const enabled = start => {
    let el = start;
    if (!el.matches('input, textarea, select') && !el.isContentEditable)
      el = el.closest('button, [role=button], [role=checkbox], [role=radio]') || el;
    if (!el.matches('a, input, textarea, button, select, option, optgroup, [role=link], ' +
                    '[role=button], [role=checkbox], [role=radio]') && !el.isContentEditable) {
      const label = el.closest('label');
      if (label && label.control) el = label.control;
    }
    if (!el.isConnected) throw FLAG;
    const tag = safeTag(el);
    if (['BUTTON', 'INPUT', 'SELECT', 'TEXTAREA', 'OPTION', 'OPTGROUP'].includes(tag)) {
      if (el.hasAttribute('disabled')) return false;
      if (tag === 'OPTION' && el.closest('OPTGROUP[DISABLED]')) return false;
      const fieldset = el.closest('FIELDSET[DISABLED]');
      if (fieldset) {
        const legend = fieldset.querySelector(':scope > LEGEND');
        if (!legend || !legend.contains(el)) return false;
      }
    }
    // Whether aria-disabled counts depends on the element's role.
    if (ariaDisabledChain(el)) throw FLAG;
    return true;
  };
  const onGrid = v => Number.isInteger(v * 64);
  const boxOf = el => {
    if (el.tagName === 'BR' || el.tagName === 'WBR') throw FLAG;
    const r = rectOf(el);
    if (r.width === 0 && r.height === 0 && el.getClientRects().length === 0) return null;
    if (!onGrid(r.x) || !onGrid(r.y) || !onGrid(r.width) || !onGrid(r.height) ||
        transformed(el)) throw FLAG;
    return [r.x, r.y, r.width, r.height];
  };
  const hasArea = b => !!b && b[2] > 0 && b[3] > 0;
  const textOf = el => {
    if (el.namespaceURI !== XHTML) throw FLAG;
    return el.innerText;
  };
  // The answers of the data-attributes and direct-text scripts, without
  // their intermediate arrays.
  const dataOf = el => {
    const out = {};
    const all = el.attributes;
    for (let i = 0; i < all.length; i++) {
      const a = all[i];
      if (a.name.startsWith('data-')) out[a.name] = a.value;
    }
    return out;
  };
  const directOf = el => {
    for (let n = el.firstChild; n; n = n.nextSibling)
      if (n.nodeType === 3 && n.textContent.trim().length > 0) return true;
    return false;
  };
  // Only the attributes present, to keep the text short.
  const attrs = el => {
    const out = {};
    for (const n of CAP) {
      const v = el.getAttribute(n);
      if (v !== null) out[n] = v;
    }
    return out;
  };
  let shadows = null;
  const anyShadow = () => {
    if (shadows === null) {
      shadows = false;
      for (const e of document.querySelectorAll('*')) if (e.shadowRoot) { shadows = true; break; }
    }
    return shadows;
  };
  // Playwright's first match: the light tree first, then each open shadow
  // root in host order, nested roots depth first. Exact for one compound
  // selector only; a descendant combinator can match across a shadow
  // boundary there.
  const deepFirst = (root, sel) => {
    const m = root.querySelector(sel);
    if (m) return m;
    for (const e of root.querySelectorAll('*')) {
      if (!e.shadowRoot) continue;
      const found = deepFirst(e.shadowRoot, sel);
      if (found) return found;
    }
    return null;
  };
  const firstText = (sel, compound, lightMissed) => {
    let m = lightMissed ? null : document.querySelector(sel);
    if (!m && anyShadow()) {
      if (!compound) throw FLAG;
      m = deepFirst(document, sel);
    }
    return m ? textOf(m) : null;
  };
  // label[for="id"] for every field at once: the first label of the light
  // tree with that for value (the selector compares it exactly), found in
  // one pass instead of one document scan a field.
  let labelsFor = null;
  const labelForText = id => {
    if (labelsFor === null) {
      labelsFor = new Map();
      for (const l of document.querySelectorAll('label[for]')) {
        const f = l.getAttribute('for');
        if (!labelsFor.has(f)) labelsFor.set(f, l);
      }
    }
    const m = labelsFor.get(id);
    if (m) return textOf(m);
    return firstText('label[for="' + id + '"]', true, true);
  };
  const IDENT = /^[A-Za-z_][A-Za-z0-9_-]*$/;
  const fieldAnswers = el => {
    const by = el.getAttribute('aria-labelledby');
    const id = el.getAttribute('id');
    let byText = null, forText = null;
    if (by) {
      if (!by.split(' ').every(t => IDENT.test(t))) throw FLAG;
      byText = firstText('#' + by, !by.includes(' '));
    }
    if (id) {
      // (CSS would rewrite surrogates and line breaks in the selector text)
      if (/["\\\n\r\f\0\uD800-\uDFFF]/.test(id)) throw FLAG;
      forText = labelForText(id);
    }
    return [byText, forText, prevLabel(el), earlierLabel(el)];
  };
  // Each answer asked at most once an element, whichever source asks first.
  const ASK = {v: visible, en: enabled, t: el => el.tagName.toLowerCase(), it: textOf, a: attrs,
               b: boxOf, d: dataOf, p: pathOf, f: fieldAnswers, dt: directOf};
  const ask = (el, r, k) => (k in r ? r[k] : (r[k] = ASK[k](el)));
  // Per source, the answers its rules ask, stopping where they drop the
  // element.
  const GATHER = {
    native: (el, r) => {
      const v = ask(el, r, 'v');
      ask(el, r, 'en');
      const t = ask(el, r, 't');
      ask(el, r, 'it');
      const a = ask(el, r, 'a');
      if (!hasArea(ask(el, r, 'b'))) return;
      if (!v) {
        // Boxes inside closed details or content-visibility subtrees
        // depend on state the script cannot see.
        if ((a['aria-label'] || a.title) && !el.checkVisibility()) throw FLAG;
        if (!a['aria-label'] && !a.title) return;
      }
      ask(el, r, 'd');
      ask(el, r, 'p');
      if (t === 'input' || t === 'textarea') ask(el, r, 'f');
    },
    custom_input: (el, r) => {
      ask(el, r, 't');
      ask(el, r, 'a');
      if (!hasArea(ask(el, r, 'b'))) return;
      if (!ask(el, r, 'v')) return;
      ask(el, r, 'p');
      ask(el, r, 'it');
      ask(el, r, 'f');
    },
    text: (el, r) => {
      if (!ask(el, r, 'v')) return;
      for (const k of ['it', 'b', 't', 'p', 'a', 'd', 'dt']) ask(el, r, k);
    },
    label_candidate: (el, r) => {
      if (!ask(el, r, 'v')) return;
      ask(el, r, 'it');
      ask(el, r, 'b');
    },
  };
  const ONE = SOURCES.length === 1;
  const out = [];
  for (const el of els) {
    if (ANY !== null && !el.matches(ANY)) continue;
    let m = 0;
    for (const [, bit, sel] of SOURCES) if (ONE || el.matches(sel)) m |= bit;
    try {
      const r = {m};
      for (const [kind, bit] of SOURCES) if (m & bit) GATHER[kind](el, r);
      out.push(r);
    } catch (e) {
      out.push(m);
    }
  }
  return JSON.stringify(out);
}
)JS";

// `t` as a JavaScript string literal in single quotes.
Text js_quoted(TextView t) {
  Text out = U"'";
  for (char32_t c : t) {
    if (c == U'\\' || c == U'\'') out += U'\\';
    out += c;
  }
  return out + U"'";
}

Text js_string_list(const std::vector<Text>& items) {
  Text out = U"[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) out += U", ";
    out += js_quoted(items[i]);
  }
  return out + U"]";
}

const char32_t* source_kind(Source s) {
  switch (s) {
    case Source::native: return U"native";
    case Source::custom_input: return U"custom_input";
    case Source::text: return U"text";
    case Source::label_candidate: return U"label_candidate";
  }
  return U"native";
}

constexpr Source kSources[] = {Source::native, Source::custom_input, Source::text,
                               Source::label_candidate};

bool one_source(unsigned sources) { return sources && !(sources & (sources - 1)); }

Text build_script(unsigned sources) {
  Text list = U"[";
  for (Source s : kSources) {
    if (!(sources & source_bit(s))) continue;
    if (list.size() > 1) list += U", ";
    list += U"['" + Text(source_kind(s)) + U"', " + Text(1, static_cast<char32_t>(U'0' + source_bit(s))) +
            U", " + js_quoted(source_selector(s)) + U"]";
  }
  list += U"]";
  Text any = one_source(sources) ? Text(U"null") : js_quoted(sources_selector(sources));
  return U"els => {\n  const SOURCES = " + list + U";\n" +
         U"  const ANY = " + any + U";\n" +
         U"  const CAP = " + js_string_list(captured_attributes()) + U";\n" +
         U"  const prevLabel = " + kPreviousSiblingLabelJs + U";\n" +
         U"  const earlierLabel = " + kEarlierChildLabelJs + U";\n" + kFastHelpersJs;
}

}  // namespace

Value Page::eval_on_selector_all(TextView, TextView) {
  throw Error("This page cannot run a script over all matches");
}

const Text& source_selector(Source source) {
  static const Text label = kLabelCandidateSelector;
  switch (source) {
    case Source::native: return interactable_selector();
    case Source::custom_input: return custom_input_selector();
    case Source::text: return text_selector();
    case Source::label_candidate: return label;
  }
  return interactable_selector();
}

Text sources_selector(unsigned sources) {
  std::vector<Text> parts;
  for (Source s : kSources) {
    if (!(sources & source_bit(s))) continue;
    // (no part of these selectors holds a comma)
    TextView rest = source_selector(s);
    while (!rest.empty()) {
      std::size_t cut = rest.find(U", ");
      Text part(rest.substr(0, cut));
      rest = cut == TextView::npos ? TextView() : rest.substr(cut + 2);
      if (std::find(parts.begin(), parts.end(), part) == parts.end()) parts.push_back(part);
    }
  }
  return text::join(parts, U", ");
}

Text fast_survey_selector(unsigned sources) {
  if (one_source(sources)) return sources_selector(sources);
  // Every element, in the order the engine sorts a comma list in; the
  // script keeps the matches of the sources' selectors.
  return U"*, *";
}

const Text& fast_survey_js(unsigned sources) {
  static std::array<Text, kAllSources + 1> built;
  static std::once_flag once[kAllSources + 1];
  sources &= kAllSources;
  std::call_once(once[sources], [&] { built[sources] = build_script(sources); });
  return built[sources];
}

// ---- recorded answers ----------------------------------------------------------

const Value& RecordedElement::answer(TextView key) const {
  const Value* v = a_->find(key);
  if (!v) throw MissingAnswer("The survey script gathered no answer for " + to_utf8(key));
  return *v;
}

bool RecordedElement::is_visible() { return answer(U"v").boolean(); }
bool RecordedElement::is_enabled() { return answer(U"en").boolean(); }

std::optional<Text> RecordedElement::inner_text() {
  const Value& v = answer(U"it");
  if (v.is_null()) return std::nullopt;
  return v.text();
}

std::optional<Text> RecordedElement::get_attribute(TextView name) {
  const Value* v = answer(U"a").record()->find(name);
  if (!v) return std::nullopt;
  return v->text();
}

Value RecordedElement::bounding_box() {
  const Value& b = answer(U"b");
  if (b.is_null()) return Value();
  const List& l = *b.list();
  if (l.size() != 4) throw ValueError("A recorded box has four numbers");
  return make_record({{U"x", l[0]}, {U"y", l[1]}, {U"width", l[2]}, {U"height", l[3]}});
}

Value RecordedElement::evaluate(TextView script) {
  if (script == kTagNameJs) return answer(U"t");
  if (script == xpath_js()) return answer(U"p");
  if (script == kDataAttributesJs) return answer(U"d");
  if (script == kDirectTextJs) return answer(U"dt");
  if (script == kPreviousSiblingLabelJs) return answer(U"f").list()->items.at(2);
  if (script == kEarlierChildLabelJs) return answer(U"f").list()->items.at(3);
  throw MissingAnswer("The survey script gathered no answer for this script");
}

std::optional<Text> RecordedElement::first_match_text(TextView selector) {
  const List& f = *answer(U"f").list();
  const Value& v = f.items.at(!selector.empty() && selector[0] == U'#' ? 0 : 1);
  if (v.is_null()) return std::nullopt;
  return v.text();
}

SourceHandles recorded_handles(Page& page, unsigned sources, const Value& result) {
  Value parsed = parse_json(result.text());
  SourceHandles out;
  for (Source s : kSources)
    if (sources & source_bit(s)) out[source_index(s)].emplace();
  unsigned flagged = 0;
  for (const Value& item : parsed.list()->items) {
    HandlePtr h;
    const Value* bits = &item;
    if (item.is_record()) {
      bits = item.as_record()->find(U"m");
      if (!bits) throw ValueError("A survey script answer names its sources");
      h = std::make_shared<RecordedElement>(item.as_record());
    }
    if (!bits->is_int() || bits->integer() < 0 || (bits->integer() & ~static_cast<std::int64_t>(sources)))
      throw ValueError("A survey script answer is a record or the bits of its sources");
    auto m = static_cast<unsigned>(bits->integer());
    if (!h) flagged |= m;
    for (Source s : kSources)
      if (m & source_bit(s)) out[source_index(s)]->push_back(h);
  }
  for (Source s : kSources) {
    if (!(flagged & source_bit(s))) continue;
    std::vector<HandlePtr>& mine = *out[source_index(s)];
    std::vector<HandlePtr> real = page.query_selector_all(source_selector(s));
    // The page changed between the two calls: its own handles alone are
    // consistent.
    if (real.size() != mine.size()) {
      mine = std::move(real);
      continue;
    }
    for (std::size_t i = 0; i < mine.size(); ++i)
      if (!mine[i]) mine[i] = real[i];
  }
  return out;
}

void DomParser::prefetch(unsigned sources) {
  pending_ = sources;
  prefetched_ = {};
  try {
    Value result = page_.eval_on_selector_all(fast_survey_selector(sources), fast_survey_js(sources));
    prefetched_ = recorded_handles(page_, sources, result);
  } catch (const PageAbort&) {
    throw;
  } catch (const Error&) {
    // The whole script failed: each source is asked element by element.
  }
}

std::vector<HandlePtr> DomParser::handles(Source source) {
  if (mode_ == SurveyMode::fast) {
    const unsigned bit = source_bit(source);
    if (!(pending_ & bit)) prefetch(bit);
    pending_ &= ~bit;
    std::optional<std::vector<HandlePtr>>& mine = prefetched_[source_index(source)];
    if (mine) {
      std::vector<HandlePtr> out = std::move(*mine);
      mine.reset();
      return out;
    }
  }
  return page_.query_selector_all(source_selector(source));
}

}  // namespace qv::browser
