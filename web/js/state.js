// The service's status as last read with "get_general", polled for every open page.
import { call } from './api.js';

const listeners = new Set();
const errorListeners = new Set();
let latest = null;
let timer = null;

export const general = () => latest;

export function onGeneral(listener) {
  listeners.add(listener);
  if (latest) listener(latest);
}

export function onPollError(listener) {
  errorListeners.add(listener);
}

// Reads the status now and again every two seconds, every second while connecting.
export async function refresh() {
  clearTimeout(timer);
  try {
    latest = await call('get_general');
    errorListeners.forEach((listener) => listener(null));
    listeners.forEach((listener) => listener(latest));
  } catch (error) {
    errorListeners.forEach((listener) => listener(error));
  }
  clearTimeout(timer); // one poll loop, however many pages asked for a refresh
  timer = setTimeout(refresh, latest && latest.privacy_status === 2 ? 1000 : 2000);
}
