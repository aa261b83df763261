// The notifications page ("?notifypage=true").
import { call } from './api.js';
import { $, el, formatDate, say } from './ui.js';

// Only web links become links; anything else in a stored URL stays text.
function safeLink(url) {
  try {
    const parsed = new URL(url);
    return parsed.protocol === 'http:' || parsed.protocol === 'https:' ? parsed.href : null;
  } catch {
    return null;
  }
}

export async function showNotifications() {
  const list = $('#notifications-list');
  say($('#notifications-error'), '');
  let notes;
  try {
    notes = (await call('get_notifications')).notifications || [];
  } catch (error) {
    say($('#notifications-error'), error.message);
    return;
  }
  list.replaceChildren();
  const now = Date.now() / 1000;
  for (const note of notes) {
    const expired = note.expired > 0 && note.expired < now;
    const link = safeLink(note.url);
    list.append(el('li', { class: expired ? 'card note expired' : 'card note' },
      el('h2', { text: note.title }),
      el('p', { text: note.info }),
      el('p', { class: 'muted small',
        text: note.expired > 0 ? `${expired ? 'Ended' : 'Until'} ${formatDate(note.expired)}` : '' }),
      link ? el('a', { href: link, target: '_blank', rel: 'noopener noreferrer', text: 'Read more' }) : null));
  }
  $('#notifications-empty').hidden = notes.length > 0;
}
