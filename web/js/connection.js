// The connection page: the state with live refresh, connect and disconnect, the connection
// type and the server in use.
import { call } from './api.js';
import { general, onGeneral, refresh } from './state.js';
import { modeWords, statusWords } from './messages.js';
import { $, say } from './ui.js';

let servers = [];
let knownActive = null;
let acting = false;

async function loadServers() {
  try {
    servers = (await call('get_servers')).servers || [];
  } catch {
    servers = []; // the page error above already tells why
  }
}

function describeServer(state) {
  const active = servers.find((server) => server.id === state.active_server);
  if (!active) return 'No server selected. Choose one under Servers.';
  return `Server: ${active.name} (${active.address})`;
}

async function render(state) {
  if (knownActive !== state.active_server) {
    knownActive = state.active_server;
    await loadServers();
  }
  const status = state.privacy_status;
  const shown = $('#conn-state');
  shown.dataset.status = String(status);
  shown.textContent = `${statusWords[status] || 'Unknown'} · ${modeWords[state.privacy_mode] || 'unknown type'}`;
  let where = describeServer(state);
  if (status === 3) {
    try {
      const ip = (await call('get_active_server_state')).server_ip;
      if (ip) where += ` — tunnel to ${ip}`;
    } catch {
      // shown on the next poll
    }
  }
  $('#conn-server').textContent = where;

  const toggle = $('#conn-toggle');
  if (!acting) {
    toggle.disabled = status === 2;
    toggle.textContent = status === 1 ? 'Connect' : status === 2 ? 'Connecting…' : 'Disconnect';
    toggle.classList.toggle('danger', status === 3);
  }
  for (const radio of document.querySelectorAll('#conn-mode input')) {
    radio.checked = Number(radio.value) === state.privacy_mode;
    radio.disabled = status !== 1 || acting;
  }
  $('#mode-hint').hidden = status === 1;
}

async function toggle() {
  const state = general();
  if (!state || acting) return;
  const stopping = state.privacy_status === 3;
  const button = $('#conn-toggle');
  acting = true;
  button.disabled = true;
  button.textContent = stopping ? 'Disconnecting…' : 'Connecting…';
  say($('#conn-error'), '');
  try {
    await call(stopping ? 'stop_privacy' : 'start_privacy');
  } catch (error) {
    say($('#conn-error'), error.message);
  } finally {
    acting = false;
    await refresh();
  }
}

async function chooseMode(event) {
  const mode = Number(event.target.value);
  say($('#mode-error'), '');
  try {
    await call('set_privacy_mode', { mode });
  } catch (error) {
    say($('#mode-error'), error.message);
  }
  await refresh();
}

export function setUpConnection() {
  $('#conn-toggle').addEventListener('click', toggle);
  for (const radio of document.querySelectorAll('#conn-mode input')) {
    radio.addEventListener('change', chooseMode);
  }
  onGeneral(render);
}

export async function showConnection() {
  knownActive = null; // the list may have changed on another page
  await refresh();
}
