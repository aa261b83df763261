// The servers page: the list with status, select, add, edit and delete.
import { call } from './api.js';
import { refresh } from './state.js';
import { serverStatusWords } from './messages.js';
import { $, el, say } from './ui.js';

const form = () => $('#server-form');

function statusBadge(server) {
  const status = server.status || 'unknown';
  return el('span', { class: `badge ${status}`, text: serverStatusWords[status] || 'Unknown' });
}

function render(servers) {
  const body = $('#servers-table tbody');
  body.replaceChildren();
  const list = servers || [];
  $('#servers-empty').hidden = list.length > 0;
  $('#servers-table').hidden = list.length === 0;
  $('#servers-clear').hidden = !list.some((server) => server.activated === 1);
  for (const server of list) {
    const selected = server.activated === 1;
    const actions = el('td', { class: 'actions' });
    if (selected) {
      actions.append(el('span', { class: 'badge selected', text: 'Selected' }));
    } else {
      actions.append(el('button', {
        type: 'button', text: 'Select', 'aria-label': `Select ${server.name}`,
        onclick: () => act('activate_server', { index: String(server.id) }),
      }));
    }
    actions.append(el('button', {
      type: 'button', text: 'Edit', 'aria-label': `Edit ${server.name}`,
      onclick: () => edit(server),
    }));
    const remove = el('button', {
      type: 'button', class: 'danger-text', text: 'Delete', 'aria-label': `Delete ${server.name}`,
    });
    // A second click confirms, so nothing is deleted by a stray click.
    remove.addEventListener('click', () => {
      if (remove.dataset.confirm) return act('delete_server', { index: String(server.id) });
      remove.dataset.confirm = '1';
      remove.textContent = 'Really delete?';
    });
    actions.append(remove);
    body.append(el('tr', { 'data-id': String(server.id), class: selected ? 'selected' : false },
      el('td', { text: server.name }), el('td', { text: server.address }),
      el('td', {}, statusBadge(server)), actions));
  }
}

// Calls a method that answers the list; on failure the message shows and the list the
// service sent with it, if any, is shown too.
async function act(method, params) {
  say($('#servers-error'), '');
  try {
    render((await call(method, params)).servers);
    refresh();
    return true;
  } catch (error) {
    say($('#servers-error'), error.message);
    if (error.reply && 'servers' in error.reply) render(error.reply.servers);
    return false;
  }
}

function edit(server) {
  const f = form();
  f.elements.id.value = String(server.id);
  f.elements.name.value = server.name;
  f.elements.address.value = server.address;
  $('#server-form-title').textContent = `Edit ${server.name}`;
  $('#server-submit').textContent = 'Save changes';
  $('#server-cancel').hidden = false;
  f.elements.name.focus();
}

function resetForm() {
  form().reset();
  form().elements.id.value = '';
  $('#server-form-title').textContent = 'Add a server';
  $('#server-submit').textContent = 'Add server';
  $('#server-cancel').hidden = true;
}

async function submit(event) {
  event.preventDefault();
  const f = form();
  const params = { name: f.elements.name.value.trim(), address: f.elements.address.value.trim() };
  const id = f.elements.id.value;
  const done = id ? await act('update_server', { id, ...params }) : await act('add_server', params);
  if (done) resetForm(); // on failure the entered values stay for another try
}

export function setUpServers() {
  form().addEventListener('submit', submit);
  $('#server-cancel').addEventListener('click', resetForm);
  $('#servers-clear').addEventListener('click', () => act('deactivate_server', { index: '0' }));
}

export async function showServers() {
  say($('#servers-error'), '');
  try {
    render((await call('get_servers')).servers);
  } catch (error) {
    say($('#servers-error'), error.message);
  }
}
