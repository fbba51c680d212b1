// The survey in one round trip a source: a page script gathers, for every
// match of the source's selector, the answers the per-element calls would
// give, in the order the rules ask them, and stops where the rules would
// drop the element. Where a script cannot reproduce Playwright's answer
// exactly (boxes off the 1/64 px grid or under a transform, elements outside
// XHTML, display:contents, a disabled state that needs the ARIA role, a
// field-label query that Playwright would answer from a shadow root) it
// answers 0 and that element is asked the usual way.
#include <unordered_map>

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
  const visible = el => {
    const s = styleOf(el);
    if (!s) return true;
    if (s.display === 'contents') throw FLAG;
    if (!el.checkVisibility()) return false;
    if (s.visibility !== 'visible') return false;
    const r = el.getBoundingClientRect();
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
    const r = el.getBoundingClientRect();
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
  const gather = {
    native: el => {
      const v = visible(el), en = enabled(el);
      const r = {v, en, t: el.tagName.toLowerCase(), it: textOf(el), a: attrs(el), b: boxOf(el)};
      if (!hasArea(r.b)) return r;
      if (!v) {
        // Boxes inside closed details or content-visibility subtrees
        // depend on state the script cannot see.
        if ((r.a['aria-label'] || r.a.title) && !el.checkVisibility()) throw FLAG;
        if (!r.a['aria-label'] && !r.a.title) return r;
      }
      r.d = dataOf(el);
      r.p = pathOf(el);
      if (r.t === 'input' || r.t === 'textarea') r.f = fieldAnswers(el);
      return r;
    },
    custom_input: el => {
      const r = {t: el.tagName.toLowerCase(), a: attrs(el), b: boxOf(el)};
      if (!hasArea(r.b)) return r;
      r.v = visible(el);
      if (!r.v) return r;
      r.p = pathOf(el);
      r.it = textOf(el);
      r.f = fieldAnswers(el);
      return r;
    },
    text: el => {
      const v = visible(el);
      if (!v) return {v};
      return {v, it: textOf(el), b: boxOf(el), t: el.tagName.toLowerCase(), p: pathOf(el),
              a: attrs(el), d: dataOf(el), dt: directOf(el)};
    },
    label_candidate: el => {
      const v = visible(el);
      if (!v) return {v};
      return {v, it: textOf(el), b: boxOf(el)};
    },
  }[KIND];
  const out = [];
  for (const el of els) {
    try {
      out.push(gather(el));
    } catch (e) {
      out.push(0);
    }
  }
  return JSON.stringify(out);
}
)JS";

Text js_string_list(const std::vector<Text>& items) {
  Text out = U"[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) out += U", ";
    out += U"'" + items[i] + U"'";
  }
  return out + U"]";
}

Text build_script(const char32_t* kind) {
  return Text(U"els => {\n  const KIND = '") + kind + U"';\n" +
         U"  const CAP = " + js_string_list(captured_attributes()) + U";\n" +

         U"  const dataOf = " + kDataAttributesJs + U";\n" +
         U"  const directOf = " + kDirectTextJs + U";\n" +
         U"  const prevLabel = " + kPreviousSiblingLabelJs + U";\n" +
         U"  const earlierLabel = " + kEarlierChildLabelJs + U";\n" + kFastHelpersJs;
}

}  // namespace

Value Page::eval_on_selector_all(TextView, TextView) {
  throw Error("This page cannot run a script over all matches");
}

Text fast_survey_js(Source source) {
  static const Text native = build_script(U"native");
  static const Text custom = build_script(U"custom_input");
  static const Text text = build_script(U"text");
  static const Text label = build_script(U"label_candidate");
  switch (source) {
    case Source::native: return native;
    case Source::custom_input: return custom;
    case Source::text: return text;
    case Source::label_candidate: return label;
  }
  return native;
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

std::vector<HandlePtr> recorded_handles(Page& page, TextView selector, const Value& result) {
  Value parsed = parse_json(result.text());
  const List& items = *parsed.list();
  std::vector<HandlePtr> out;
  out.reserve(items.size());
  bool flagged = false;
  for (const Value& item : items.items) {
    if (item.is_record()) {
      out.push_back(std::make_shared<RecordedElement>(item.as_record()));
    } else if (item.is_int() && item.integer() == 0) {
      out.push_back(nullptr);
      flagged = true;
    } else {
      throw ValueError("A survey script answer is a record or 0");
    }
  }
  if (!flagged) return out;
  std::vector<HandlePtr> real = page.query_selector_all(selector);
  // The page changed between the two calls: its own handles alone are
  // consistent.
  if (real.size() != out.size()) return real;
  for (std::size_t i = 0; i < out.size(); ++i)
    if (!out[i]) out[i] = real[i];
  return out;
}

std::vector<HandlePtr> DomParser::handles(TextView selector, Source source) {
  if (mode_ == SurveyMode::fast) {
    try {
      Value result = page_.eval_on_selector_all(selector, fast_survey_js(source));
      return recorded_handles(page_, selector, result);
    } catch (const PageAbort&) {
      throw;
    } catch (const Error&) {
      // The whole script failed: this source is asked element by element.
    }
  }
  return page_.query_selector_all(selector);
}

}  // namespace qv::browser
