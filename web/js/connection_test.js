// The connection test ("?testpage=true"): the service answers, the tunnel's state, the server
// the session runs through, and while connected the leak check the engine makes: the address
// the traffic leaves from and which resolver answers names, with a verdict.
import { call } from './api.js';
import { modeWords } from './messages.js';
import { $, el } from './ui.js';

const kNotConfigured = 11;

function result(check, outcome, title, text) {
  return el('li', { class: outcome, 'data-check': check },
    el('span', { class: 'mark', 'aria-hidden': 'true', text: { ok: '✓', warn: '•', fail: '✗' }[outcome] }),
    el('strong', { text: title }), el('span', { text: ` ${text}` }),
    el('span', { class: 'sr', text: ` (${{ ok: 'passed', warn: 'note', fail: 'failed' }[outcome]})` }));
}

function resolverResult(reply) {
  const answers = (reply.dns_answers || []).join(', ');
  switch (reply.dns_resolver) {
    case 'tunnel':
      return result('dns', 'ok', 'Name lookups:', 'answered by the resolver of the tunnel.');
    case 'other':
      return result('dns', 'fail', 'Name lookups:', `answered by a resolver outside the tunnel (its answer: ${answers}).`);
    default:
      return result('dns', 'warn', 'Name lookups:', 'no resolver answered the check name.');
  }
}

function verdict(reply) {
  if (reply.dns_resolver === 'other') {
    return result('verdict', 'fail', 'Verdict:', 'leak found: the names you look up are sent outside the tunnel.');
  }
  if (reply.dns_resolver === 'tunnel' && reply.exit_ip) {
    return result('verdict', 'ok', 'Verdict:', 'no leak found.');
  }
  return result('verdict', 'warn', 'Verdict:', 'not every check could be made; run the test again.');
}

// The engine's probes take a few seconds; their outcome, or why there is none.
async function leakResults() {
  let reply;
  try {
    reply = await call('check_connection');
  } catch (error) {
    if (error.code === kNotConfigured) {
      return [result('leak', 'warn', 'Leak check:', 'not configured: this installation has no check addresses.')];
    }
    return [result('leak', 'fail', 'Leak check:', error.message)];
  }
  return [
    reply.exit_ip
      ? result('exit', 'ok', 'Exit address:', `your traffic leaves from ${reply.exit_ip}.`)
      : result('exit', 'warn', 'Exit address:', 'the check address did not answer.'),
    resolverResult(reply),
    verdict(reply),
  ];
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
      list.replaceChildren(...results, el('li', { class: 'warn', text: 'Checking for leaks…' }));
      results.push(...await leakResults());
    } else {
      const words = state.privacy_status === 2 ? 'still connecting' : 'not connected';
      results.push(result('tunnel', 'warn', 'Tunnel:', `${words} (${mode}).`));
      results.push(result('server', 'warn', 'Active server:', 'none in use while not connected.'));
      results.push(result('leak', 'warn', 'Leak check:', 'made while connected.'));
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
