// Lines of the pages that a screen reader announces as they change (their elements are polite
// live regions): written so that only news is announced.

// Writes the text only when it differs, so that a status given again unchanged is not read out
// again.
export function showText(element, text) {
  if (element.textContent !== text) {
    element.textContent = text;
  }
}

// Writes the line, announced when it changes, and after it a countdown that is never announced:
// a screen reader would read it out every second.
export function showLine(element, line, countdown = "") {
  const said = element.firstChild;
  if (said?.nodeType !== Node.TEXT_NODE || said.data !== line) {
    element.replaceChildren(line);
  }
  let ticking = element.childNodes[1];
  if (!countdown) {
    ticking?.remove();
    return;
  }
  if (!ticking) {
    ticking = element.appendChild(document.createElement("span"));
    ticking.setAttribute("aria-live", "off");
  }
  showText(ticking, countdown);
}
