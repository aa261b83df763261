// Page routing and the status shown on every page.
import { onGeneral, onPollError, refresh } from './state.js';
import { modeWords, statusWords } from './messages.js';
import { $, say } from './ui.js';
import { setUpConnection, showConnection } from './connection.js';
import { setUpServers, showServers } from './servers.js';
import { setUpAccount, showAccount } from './account.js';
import { setUpSettings, showSettings } from './settings.js';
import { showNotifications } from './notifications.js';
import { runConnectionTest, setUpConnectionTest } from './connection_test.js';

const views = {
  connection: showConnection,
  servers: showServers,
  account: showAccount,
  settings: showSettings,
  notifications: showNotifications,
  test: runConnectionTest,
};

// The tray opens "/?testpage=true" and "/?notifypage=true"; the other pages are "#name".
function currentView() {
  const query = new URLSearchParams(location.search);
  if (query.get('testpage') === 'true') return 'test';
  if (query.get('notifypage') === 'true') return 'notifications';
  const hash = location.hash.slice(1);
  return hash in views ? hash : 'connection';
}

function show() {
  const name = currentView();
  for (const section of document.querySelectorAll('.view')) section.hidden = section.id !== `view-${name}`;
  for (const link of document.querySelectorAll('.tabs a')) {
    if (link.dataset.view === name) link.setAttribute('aria-current', 'page');
    else link.removeAttribute('aria-current');
  }
  document.title = `Quietway — ${$(`#view-${name} h1`).textContent}`;
  views[name]();
}

function renderPill(state) {
  const pill = $('#status-pill');
  pill.dataset.status = String(state.privacy_status);
  pill.textContent = `${statusWords[state.privacy_status] || 'Unknown'} · ${modeWords[state.privacy_mode] || '?'}`;
}

// Same-page links switch the page without reloading it.
for (const link of document.querySelectorAll('.tabs a')) {
  link.addEventListener('click', (event) => {
    if (location.search || event.ctrlKey || event.metaKey || event.shiftKey) return;
    const view = link.dataset.view;
    if (view === 'test' || view === 'notifications') {
      event.preventDefault();
      history.pushState(null, '', link.getAttribute('href'));
      show();
    }
  });
}
window.addEventListener('hashchange', show);
window.addEventListener('popstate', show);

setUpConnection();
setUpServers();
setUpAccount();
setUpSettings();
setUpConnectionTest();
onGeneral(renderPill);
onPollError((error) => say($('#page-error'), error ? error.message : ''));
show();
if (!['connection', 'account'].includes(currentView())) refresh();
