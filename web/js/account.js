// The account page: user name and password, applying them while the servers are prepared,
// each server's outcome, and the days left on the account.
import { call } from './api.js';
import { onGeneral, refresh } from './state.js';
import { serverStatusWords } from './messages.js';
import { $, el, formatDate, say } from './ui.js';

let serverCount = 0;
let applying = false;

function renderExpiry(state) {
  const shown = $('#account-expiry');
  const seconds = Number(state.account_expires);
  if (!state.account_expires || !Number.isFinite(seconds) || seconds <= 0) {
    shown.textContent = 'The account’s expiry date is not known yet; it is fetched after the account is applied.';
    shown.className = 'card';
    return;
  }
  const days = Math.ceil((seconds * 1000 - Date.now()) / 86400000);
  if (days <= 0) {
    shown.textContent = `Your account expired on ${formatDate(seconds)}.`;
    shown.className = 'card warn';
  } else {
    const word = days === 1 ? 'day' : 'days';
    shown.textContent = `${days} ${word} left — your account is valid until ${formatDate(seconds)}.`;
    shown.className = days <= 7 ? 'card warn' : 'card good';
  }
}

function renderOutcome(servers) {
  const list = $('#account-outcome-list');
  list.replaceChildren();
  for (const server of servers || []) {
    const status = server.status || 'unknown';
    list.append(el('li', { class: status, 'data-id': String(server.id) },
      el('span', { text: server.name }),
      el('span', { class: `badge ${status}`, text: serverStatusWords[status] || 'Unknown' }),
      server.activated === 1 ? el('span', { class: 'badge selected', text: 'Selected' }) : null));
  }
  $('#account-outcome').hidden = list.children.length === 0;
}

async function apply(event) {
  event.preventDefault();
  if (applying) return;
  const form = $('#account-form');
  const button = $('#account-apply');
  const progress = $('#account-progress');
  applying = true;
  button.disabled = true;
  form.elements.user.readOnly = form.elements.password.readOnly = true;
  say($('#account-error'), '');
  $('#account-progress-text').textContent = serverCount === 1
    ? 'Preparing 1 server…' : `Preparing ${serverCount} servers…`;
  progress.hidden = false;
  try {
    const reply = await call('apply_account', {
      user: form.elements.user.value, password: form.elements.password.value,
    });
    renderOutcome(reply.servers);
    form.elements.password.value = '';
  } catch (error) {
    say($('#account-error'), error.message); // the entered values stay for another try
    if (error.reply && 'servers' in error.reply) renderOutcome(error.reply.servers);
  } finally {
    applying = false;
    progress.hidden = true;
    button.disabled = false;
    form.elements.user.readOnly = form.elements.password.readOnly = false;
    refresh();
  }
}

export function setUpAccount() {
  $('#account-form').addEventListener('submit', apply);
  onGeneral(renderExpiry);
}

export async function showAccount() {
  try {
    const reply = await call('get_servers');
    serverCount = (reply.servers || []).length;
    const user = $('#account-form').elements.user;
    if (!user.value) user.value = reply.user;
  } catch (error) {
    say($('#account-error'), error.message);
  }
  await refresh();
}
