// Small DOM helpers; text always goes in as text, never as markup.

export const $ = (selector, root = document) => root.querySelector(selector);

export function el(tag, attributes = {}, ...children) {
  const node = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) {
    if (name === 'text') node.textContent = value;
    else if (name === 'onclick') node.addEventListener('click', value);
    else if (value !== false && value !== undefined) node.setAttribute(name, value === true ? '' : value);
  }
  for (const child of children) if (child) node.append(child);
  return node;
}

// Shows `message` in the alert element, or hides it when the message is empty.
export function say(element, message) {
  element.textContent = message || '';
  element.hidden = !message;
}

// Runs `work` with the button disabled and labelled `busyLabel`, restoring it afterwards.
export async function busy(button, busyLabel, work) {
  const label = button.textContent;
  button.disabled = true;
  button.textContent = busyLabel;
  button.setAttribute('aria-busy', 'true');
  try {
    return await work();
  } finally {
    button.disabled = false;
    button.textContent = label;
    button.removeAttribute('aria-busy');
  }
}

export function formatDate(seconds) {
  return new Date(seconds * 1000).toLocaleDateString(undefined, {
    year: 'numeric', month: 'long', day: 'numeric',
  });
}
