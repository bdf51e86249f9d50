// What the page knows: the boards, the role, whether the event stream is up. Views subscribe
// and redraw the board that changed.
import { t } from './i18n.js';

export const store = {
    boards: new Map(),  // id -> board (normalized, plus pending relays and last error)
    order: [],
    loaded: false,
    role: undefined,    // 'viewer' | 'operator' | 'admin' | null (none); undefined: not told
    denied: { operate: false, admin: false },  // learnt from a 403 when the role is not told
    authNeeded: false,
    connected: false,
    eventCount: 0,
};

const listeners = new Set();

export function subscribe(fn) {
    listeners.add(fn);
    return () => listeners.delete(fn);
}

// what: { board: id } for one board, { all: true } for everything.
export function changed(what = { all: true }) {
    for (const fn of [...listeners]) fn(what);
}

export function board(id) {
    return store.boards.get(id);
}

export function mergeBoard(b) {
    // In place: requests in flight hold the object.
    const old = store.boards.get(b.id);
    const merged = old ? Object.assign(old, b) : { pending: new Map(), relays: 0, inputs: 0, name: b.id, ...b };
    store.boards.set(b.id, merged);
    if (!store.order.includes(b.id)) store.order.push(b.id);
    return merged;
}

function roleBlock(level) {
    if (store.role === undefined) {
        if (store.denied[level]) return t(level === 'admin' ? 'whyAdmin' : 'whyNotAllowed');
        return null;
    }
    if (store.role === null) return t('whyNoWrites');
    if (level === 'operate' && store.role === 'viewer') return t('whyViewer', { role: store.role });
    if (level === 'admin' && store.role !== 'admin') return t('whyAdmin');
    return null;
}

// Why a control cannot be used now, or null. level: 'operate' (relays) or 'admin'.
export function whyBlocked(b, level, { offlineOk = false } = {}) {
    if (!store.connected) return t('whyDisconnected');
    const role = roleBlock(level);
    if (role) return role;
    if (b?.state === 'flashing') return t('whyFlashing');
    if (b && b.state !== 'online' && !offlineOk) return t('whyOffline');
    return null;
}

export function errorText(e) {
    const local = {
        0: 'errNetwork', 401: 'errAuth', 403: 'errForbidden', 409: 'errBusy', 503: 'errOffline',
        504: 'errTimeout',
    }[e.status];
    const base = local ? t(local) : `${t('error')} ${e.status}`;
    return e.message && e.status !== 0 ? `${base}: ${e.message}` : base;
}
