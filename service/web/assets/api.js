// The service's HTTP API. The token stays in this tab's session storage and only ever travels
// in the Authorization header, never in a URL.
const kTokenKey = 'swb808.token';

export class ApiError extends Error {
    constructor(status, title, detail, retryAfter) {
        super(detail || title || `HTTP ${status}`);
        this.status = status;  // 0: the service was not reached
        this.title = title;
        this.retryAfter = retryAfter;
    }
}

export function token() {
    return sessionStorage.getItem(kTokenKey);
}

export function setToken(value) {
    if (value) sessionStorage.setItem(kTokenKey, value);
    else sessionStorage.removeItem(kTokenKey);
}

export function authHeaders(extra = {}) {
    const headers = { ...extra };
    const tok = token();
    if (tok) headers.Authorization = `Bearer ${tok}`;
    return headers;
}

export async function request(method, path, { json, body, contentType, signal } = {}) {
    const headers = authHeaders({ Accept: 'application/json, application/problem+json' });
    if (json !== undefined) {
        headers['Content-Type'] = 'application/json';
        body = JSON.stringify(json);
    } else if (body !== undefined) {
        headers['Content-Type'] = contentType ?? 'application/octet-stream';
    }
    let res;
    try {
        res = await fetch(path, { method, headers, body, signal, cache: 'no-store' });
    } catch (e) {
        if (e.name === 'AbortError') throw e;
        throw new ApiError(0, '', '');
    }
    const text = await res.text();
    let data = null;
    try {
        data = text ? JSON.parse(text) : null;
    } catch {
        data = null;
    }
    if (!res.ok) {
        throw new ApiError(res.status, data?.title ?? res.statusText, data?.detail ?? '',
                           res.headers.get('Retry-After'));
    }
    return { data, status: res.status, headers: res.headers };
}

export const boardPath = (id) => `/api/v1/boards/${encodeURIComponent(id)}`;

// The service's keys follow the tool's JSON; older or newer spellings are taken as well so the
// page keeps working across a rename.
export function normalizeBoard(raw) {
    const b = {};
    const take = (key, ...names) => {
        for (const n of names) {
            // null: not known now; what the page had stays.
            if (raw[n] !== undefined && raw[n] !== null) {
                b[key] = raw[n];
                return;
            }
        }
    };
    take('id', 'id');
    take('name', 'name');
    take('port', 'port');
    take('device', 'device');
    take('baud', 'rate', 'baud');
    take('state', 'state');
    take('identity', 'identity');
    take('firmware', 'firmware');
    take('config', 'config');
    if (b.id !== undefined) b.id = String(b.id);
    if ('problem' in raw) b.problem = raw.problem ?? '';
    if (typeof raw.relays === 'number') b.relays = raw.relays;
    else if (typeof raw.relays?.mask === 'number') b.relays = raw.relays.mask;
    if (typeof raw.inputs === 'number') b.inputs = raw.inputs;
    else if (typeof raw.inputs?.mask === 'number') b.inputs = raw.inputs.mask;
    const supply = raw.supply ?? raw.supply_raw;
    if (supply !== undefined && supply !== null) b.supply = normalizeSupply(supply);
    return b;
}

export function supplyVolts(rawValue) {
    // The board's reading to volts in the window's order of steps.
    return (((rawValue * 2.56) / 1023) * 8) / 3.3;
}

export function normalizeSupply(s) {
    const raw = typeof s === 'number' ? s : s.raw;
    const volts = typeof s?.volts === 'number' ? s.volts : supplyVolts(raw);
    const inRange = typeof s?.in_range === 'boolean' ? s.in_range : volts >= 4.75 && volts <= 5.25;
    return { raw, volts, inRange };
}

export function normalizeEvent(raw, type) {
    const e = { kind: raw.kind ?? raw.type ?? type, board: raw.board ?? raw.board_id };
    for (const k of ['relays', 'inputs', 'state', 'message', 'firmware']) {
        if (raw[k] !== undefined) e[k] = raw[k];
    }
    if (raw.supply !== undefined || raw.supply_raw !== undefined)
        e.supply = normalizeSupply(raw.supply ?? raw.supply_raw);
    e.blocksDone = raw.blocks_done ?? raw.blocksDone;
    e.blockCount = raw.block_count ?? raw.blockCount;
    e.oldVersion = raw.old_version ?? raw.oldVersion;
    e.newVersion = raw.new_version ?? raw.newVersion;
    e.baud = raw.baud ?? raw.rate;
    e.job = raw.job;
    return e;
}

export function normalizeJob(raw, location) {
    const id = raw?.id ?? raw?.job ?? (location ? location.split('/').pop() : undefined);
    const result = raw?.result ?? raw?.state ?? raw?.status;
    const finished = raw?.done === true || raw?.finished === true ||
        ['done', 'complete', 'completed', 'ok', 'failed', 'error', 'aborted'].includes(result) ||
        (typeof raw?.ok === 'boolean' && result !== 'running');
    const ok = raw?.ok ?? (finished ? ['done', 'complete', 'completed', 'ok'].includes(result) : undefined);
    return {
        id: id === undefined ? undefined : String(id),
        blocksDone: raw?.blocks_done ?? 0,
        blockCount: raw?.block_count ?? raw?.blocks ?? 96,
        finished,
        ok,
        error: raw?.error ?? raw?.message ?? '',
        oldVersion: raw?.old_version ?? '',
        newVersion: raw?.new_version ?? '',
    };
}
