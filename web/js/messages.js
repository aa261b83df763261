// Every answer the service can give, as a sentence for the user.

// The "error" member of the methods' replies, by method where the code depends on it.
const methodErrors = {
  1: 'The connection is already running or starting, so it was not started again.',
  2: 'There is no established connection to stop yet. If it is still connecting, wait a moment and try again.',
  3: 'This can only be changed while disconnected. Disconnect first, then try again.',
  5: 'This server cannot be selected because it is not ready. Apply your account so that the server is prepared first.',
  6: 'The service refused to clear the selected server.',
  7: 'The connection could not be started. Check that a ready server is selected and that your account is applied.',
  8: 'The connection could not be stopped. Try again; if it keeps failing, restart the Quietway service.',
  9: 'Your account could not be applied: no server could be prepared with this user name and password. Check them and try again.',
  10: 'The connection type could not be saved. Try again; if it keeps failing, restart the Quietway service.',
  11: 'The connection test is not configured: this installation has no check addresses.',
  12: 'A connection test is already running. Wait for its result, then try again.',
};

// The JSON-RPC protocol's own error objects.
const protocolErrors = {
  '-32700': 'The service could not read the request. Reload the page and try again.',
  '-32600': 'The service rejected the request as malformed. Reload the page and try again.',
  '-32601': 'The service does not offer this operation. It may be an older version; update Quietway.',
  '-32602': 'Some of the values given are not valid. Check them and try again.',
  '-32603': 'The service failed while handling the request. Try again.',
};

export const transportErrors = {
  unreachable: 'The Quietway service does not answer. Check that it is running, then reload the page.',
  forbidden: 'This page can only be used when opened on this computer at http://127.0.0.1:8988/.',
  garbled: 'The service sent an answer this page does not understand. Reload the page and try again.',
};

export function methodErrorText(code) {
  return methodErrors[code] || `The service reported error ${code}.`;
}

export function protocolErrorText(code) {
  return protocolErrors[String(code)] || `The service reported protocol error ${code}.`;
}

export const statusWords = { 1: 'Disconnected', 2: 'Connecting…', 3: 'Connected' };
export const modeWords = { 0: 'SSH proxy', 1: 'SSH tor', 2: 'OpenVPN' };
export const serverStatusWords = { initial: 'Not prepared', ready: 'Ready', failed: 'Failed' };
