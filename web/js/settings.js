// The settings page: the values "set_general" stores.
import { call } from './api.js';
import { $, busy, say } from './ui.js';

const names = ['auto_privacy', 'use_firewall', 'use_change_servers'];

async function save(event) {
  event.preventDefault();
  const form = $('#settings-form');
  const params = {};
  for (const name of names) params[name] = form.elements[name].checked ? 1 : 0;
  say($('#settings-error'), '');
  $('#settings-saved').hidden = true;
  await busy(form.querySelector('button'), 'Saving…', async () => {
    try {
      await call('set_general', params);
      $('#settings-saved').hidden = false;
    } catch (error) {
      say($('#settings-error'), error.message); // the boxes keep what the user chose
    }
  });
}

export function setUpSettings() {
  $('#settings-form').addEventListener('submit', save);
}

export async function showSettings() {
  say($('#settings-error'), '');
  $('#settings-saved').hidden = true;
  try {
    const state = await call('get_general');
    const form = $('#settings-form');
    for (const name of names) form.elements[name].checked = state[name] === 1;
    const about = await call('get_about_info');
    $('#about').textContent = `Quietway ${about.version_info}`;
  } catch (error) {
    say($('#settings-error'), error.message);
  }
}
