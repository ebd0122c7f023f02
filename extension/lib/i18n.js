// The extension's texts in Firefox's interface language (the messages of _locales), and its
// numbers, units and times written the way that language writes them.

// The message of that name with its placeholders filled in order.
export const t = (name, ...values) => browser.i18n.getMessage(name, values.map(String));

export const uiLanguage = () => browser.i18n.getUILanguage();

// Picks the message for one or for many: languages whose other forms differ (Russian's few and
// many) word their "many" message so that it reads right for any count.
// The count is the first placeholder, then the values given.
export const counted = (count, one, many, ...values) =>
  t(new Intl.PluralRules(uiLanguage()).select(count) === "one" ? one : many, count, ...values);

export const clock = (time, withSeconds = false) => new Date(time).toLocaleTimeString(
  uiLanguage(), { hour: "2-digit", minute: "2-digit", ...(withSeconds && { second: "2-digit" }) });

// A character of the private-use area stands in for each <code> child while the message is
// looked up, so that a sentence keeps its literal commands in their own elements.
const kCodeMark = 0xe000;

function translateElement(element, name) {
  const codes = [...element.querySelectorAll("code")];
  const text = t(name, ...codes.map((_, i) => String.fromCharCode(kCodeMark + i)));
  element.replaceChildren(...text.split(/([\ue000-\ue0ff])/u).map((part) =>
    part.length === 1 && part.charCodeAt(0) >= kCodeMark ? codes[part.charCodeAt(0) - kCodeMark]
                                                         : part));
}

// Fills the page's marked elements: data-i18n their text (keeping <code> children where the
// message places them), data-i18n-label their aria-label.
export function translatePage() {
  document.documentElement.lang = uiLanguage();
  for (const element of document.querySelectorAll("[data-i18n]")) {
    translateElement(element, element.dataset.i18n);
  }
  for (const element of document.querySelectorAll("[data-i18n-label]")) {
    element.setAttribute("aria-label", t(element.dataset.i18nLabel));
  }
}
