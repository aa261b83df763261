// The connection test ("?testpage=true"): the service answers, the tunnel's state, and the
// server the session runs through.
import { call } from './api.js';
import { modeWords } from './messages.js';
import { $, el } from './ui.js';

function result(check, outcome, title, text) {
  return el('li', { class: outcome, 'data-check': check },
    el('span', { class: 'mark', 'aria-hidden': 'true', text: { ok: '✓', warn: '•', fail: '✗' }[outcome] }),
    el('strong', { text: title }), el('span', { text: ` ${text}` }),
    el('span', { class: 'sr', text: ` (${{ ok: 'passed', warn: 'note', fail: 'failed' }[outcome]})` }));
}

export async function runConnectionTest() {
  const list = $('#test-results');
  const button = $('#test-run');
  button.disabled = true;
  list.replaceChildren(el('li', { class: 'warn', text: 'Testing…' }));
  const results = [];
  try {
    const about = await call('get_about_info');
    results.push(result('api', 'ok', 'Quietway service:', `answers (version ${about.version_info}).`));
    const state = await call('get_general');
    const mode = modeWords[state.privacy_mode] || 'unknown type';
    if (state.privacy_status === 3) {
      results.push(result('tunnel', 'ok', 'Tunnel:', `connected (${mode}).`));
      const { servers } = await call('get_servers');
      const active = await call('get_active_server_state');
      const server = (servers || []).find((s) => s.id === state.active_server);
      const name = server ? server.name : 'the active server';
      results.push(active.server_ip
        ? result('server', 'ok', 'Active server:', `${name} carries the tunnel at ${active.server_ip}.`)
        : result('server', 'fail', 'Active server:', 'the service reports no address for it.'));
    } else {
      const words = state.privacy_status === 2 ? 'still connecting' : 'not connected';
      results.push(result('tunnel', 'warn', 'Tunnel:', `${words} (${mode}).`));
      results.push(result('server', 'warn', 'Active server:', 'none in use while not connected.'));
    }
  } catch (error) {
    const check = results.length === 0 ? 'api' : 'tunnel';
    results.push(result(check, 'fail', results.length === 0 ? 'Quietway service:' : 'Test:', error.message));
  }
  list.replaceChildren(...results);
  button.disabled = false;
}

export function setUpConnectionTest() {
  $('#test-run').addEventListener('click', runConnectionTest);
}
