// The control API: one JSON-RPC call per request, authorized with the credential that only
// this server's own pages can fetch.
import { methodErrorText, protocolErrorText, transportErrors } from './messages.js';

export class ApiError extends Error {
  constructor(message, code) {
    super(message);
    this.code = code;
  }
}

let authorization = null;
let nextId = 1;

async function credential() {
  if (authorization) return authorization;
  // A page framed by another site must not act for it.
  if (window.top !== window.self) throw new ApiError(transportErrors.forbidden, 'forbidden');
  let reply;
  try {
    reply = await fetch('/api/credential', { cache: 'no-store', credentials: 'omit' });
  } catch {
    throw new ApiError(transportErrors.unreachable, 'unreachable');
  }
  if (!reply.ok) throw new ApiError(transportErrors.forbidden, 'forbidden');
  const body = await reply.json().catch(() => ({}));
  if (typeof body.authorization !== 'string') throw new ApiError(transportErrors.garbled, 'garbled');
  authorization = body.authorization;
  return authorization;
}

// Resolves to the method's reply when its "error" is 0; otherwise rejects with an ApiError
// whose message is the sentence to show and whose `reply` holds what the service sent.
export async function call(method, params) {
  const request = { jsonrpc: '2.0', method, id: nextId++ };
  if (params !== undefined) request.params = params;
  const auth = await credential();
  let text;
  try {
    const reply = await fetch('/', {
      method: 'POST',
      cache: 'no-store',
      credentials: 'omit',
      headers: { Authorization: auth, 'Content-Type': 'application/json' },
      body: JSON.stringify(request),
    });
    text = await reply.text();
    if (!reply.ok) {
      // A refused call falls through to the web server's own answer: the credential changed.
      authorization = null;
      throw new ApiError(transportErrors.forbidden, 'forbidden');
    }
  } catch (error) {
    if (error instanceof ApiError) throw error;
    throw new ApiError(transportErrors.unreachable, 'unreachable');
  }
  let body;
  try {
    body = JSON.parse(text);
  } catch {
    throw new ApiError(transportErrors.garbled, 'garbled');
  }
  if (body && typeof body.error === 'object' && body.error !== null) {
    const failure = new ApiError(protocolErrorText(body.error.code), body.error.code);
    failure.reply = body;
    throw failure;
  }
  if (!body || typeof body.error !== 'number') throw new ApiError(transportErrors.garbled, 'garbled');
  if (body.error !== 0) {
    const failure = new ApiError(methodErrorText(body.error), body.error);
    failure.reply = body;
    throw failure;
  }
  return body;
}
