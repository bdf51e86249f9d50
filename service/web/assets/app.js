// Start-up, the two views (#/ and #/board/<id>), the event stream and the header.
import { boardPath, normalizeBoard, normalizeEvent, request } from './api.js';
import { boardView } from './board.js';
import { announce } from './dom.js';
import { EventStream } from './events.js';
import { language, setLanguage, t } from './i18n.js';
import { overviewView } from './overview.js';
import { openSignIn, signedIn, signOut } from './signin.js';
import { changed, mergeBoard, store, subscribe } from './store.js';

const main = document.getElementById('main');
const banner = document.getElementById('banner');
let view = null;
let everConnected = false;
let firstPaint = true;

function route() {
    const hash = location.hash;
    const m = /^#\/board\/(.+)$/.exec(hash);
    view = m ? boardView(decodeURIComponent(m[1])) : overviewView();
    main.replaceChildren(view.el);
    document.title = `${view.title} – ${t('title')}`;
}

function renderHeader() {
    document.documentElement.lang = language();
    document.getElementById('skip').textContent = t('skip');
    document.getElementById('nav-overview').textContent = t('overview');
    const lang = document.getElementById('lang');
    lang.textContent = t('language');
    lang.lang = language() === 'de' ? 'en' : 'de';
    lang.title = t('languageLabel');
    const role = document.getElementById('role');
    role.textContent = store.role ? t('role', { role: store.role }) : store.role === null ? t('roleNone') : '';
    document.getElementById('signin').textContent = signedIn() ? t('signOut') : t('signIn');
    const need = document.getElementById('need-token');
    need.textContent = t('needToken');
    need.hidden = !store.authNeeded;
    banner.textContent = t('disconnected');
    banner.hidden = store.connected || !everConnected;
}

// Who the service takes the caller for: {"name": ..., "role": "viewer" | "operator" | "admin"},
// any other role (none) when a token is needed and none was given.
async function loadRole() {
    try {
        const { data } = await request('GET', '/api/v1/me');
        store.role = ['viewer', 'operator', 'admin'].includes(data?.role) ? data.role : null;
    } catch (e) {
        if (e.status === 401) store.authNeeded = true;
        store.role = undefined;
    }
}

// A service that does not say who the caller is (no /api/v1/me): ask with requests it must refuse before
// touching a board (relay 0, rate 1). 403 means the role may not; 400 means it may.
async function probeRole(id) {
    const may = async (path, body) => {
        try {
            await request('PUT', `${boardPath(id)}${path}`, { json: body });
            return true;
        } catch (e) {
            return e.status === 403 || e.status === 401 ? false : e.status === 400 ? true : null;
        }
    };
    const operate = await may('/relays/0', { state: 'off' });
    const admin = operate === false ? false : await may('/config', { baud: 1 });
    store.denied.operate = operate === false;
    store.denied.admin = admin === false;
}

// One snapshot of every board. Values from events that came in meanwhile are newer: kept.
async function loadBoards() {
    const mark = store.eventCount;
    try {
        const { data } = await request('GET', '/api/v1/boards');
        const list = Array.isArray(data) ? data : data?.boards ?? [];
        const ids = list.map((raw) => mergeBoard(normalizeBoard(raw)).id);
        store.order = store.order.filter((id) => ids.includes(id));
        for (const id of [...store.boards.keys()]) if (!ids.includes(id)) store.boards.delete(id);
        store.loaded = true;
        store.authNeeded = false;
        changed();
        await Promise.all(ids.map((id) => loadBoard(id, mark)));
    } catch (e) {
        if (e.status === 401) store.authNeeded = true;
        changed();
    }
}

async function loadBoard(id, mark) {
    try {
        const { data } = await request('GET', boardPath(id));
        const b = normalizeBoard(data ?? {});
        b.id = id;
        if ((store.boards.get(id)?.lastEvent ?? 0) > mark) {
            delete b.relays;
            delete b.inputs;
        }
        mergeBoard(b);
    } catch {
        // An offline board keeps what the list said.
    }
    changed({ board: id });
}

function onEvent(type, data) {
    const e = normalizeEvent(data, type);
    // Notices about this connection: events were lost, so read every board again.
    if (e.kind === 'resync') {
        loadBoards();
        return;
    }
    store.eventCount += 1;
    const b = store.boards.get(e.board);
    if (!b) {
        if (e.board !== undefined && store.loaded) loadBoards();
        return;
    }
    b.lastEvent = store.eventCount;
    // Every event carries the board's last known values, whatever its kind.
    if (typeof e.relays === 'number') b.relays = e.relays;
    if (typeof e.inputs === 'number') b.inputs = e.inputs;
    if (e.supply) b.supply = e.supply;
    if (typeof e.baud === 'number' && e.baud > 0) b.baud = e.baud;
    switch (e.kind) {
        case 'online':
        case 'connected':
        case 'found_again':
            b.state = 'online';
            if (e.newVersion) b.firmware = e.newVersion;
            if (e.firmware) b.firmware = e.firmware;
            break;
        case 'offline':
        case 'lost':
            b.state = 'offline';
            break;
        case 'flash':
        case 'flash_progress':
            b.state = 'flashing';
            break;
        case 'flash_result':
        case 'flashed':
        case 'disconnected':
            loadBoard(b.id, store.eventCount);
            break;
        default:
            break;
    }
    if (['online', 'offline', 'flashing'].includes(e.state)) {
        // Back online (after a flash, a reset, a lost line): its firmware and state may be new.
        if (e.state === 'online' && b.state !== 'online') loadBoard(b.id, store.eventCount);
        b.state = e.state;
        b.problem = e.state === 'online' ? '' : e.message ?? b.problem;
    }
    changed({ board: b.id });
}

const stream = new EventStream({
    event: onEvent,
    open() {
        const again = everConnected;
        everConnected = true;
        store.connected = true;
        if (again) {
            announce(t('reconnected'));
            loadBoards();
        }
        changed();
    },
    close() {
        if (store.connected) announce(t('disconnected'));
        store.connected = false;
        everConnected = true;
        changed();
    },
    unauthorized() {
        store.authNeeded = true;
        store.connected = false;
        changed();
    },
});

subscribe((what) => {
    if (what.all) renderHeader();
    view?.update(what);
});

async function start() {
    await loadRole();
    renderHeader();
    await loadBoards();
    if (store.role === undefined && store.order.length) await probeRole(store.order[0]);
    if (firstPaint) {
        // Every board with its LEDs on the screen: the figure the page's benchmark reads.
        firstPaint = false;
        requestAnimationFrame(() => setTimeout(() => performance.mark('swb808-boards-painted')));
    }
    stream.restart();
}

document.getElementById('lang').addEventListener('click', () => {
    setLanguage(language() === 'de' ? 'en' : 'de');
    route();
    renderHeader();
    document.getElementById('lang').focus();
});
document.getElementById('signin').addEventListener('click', () => {
    const restart = () => {
        store.role = undefined;
        store.denied = { operate: false, admin: false };
        start();
    };
    if (signedIn()) signOut(restart);
    else openSignIn(restart);
});
document.getElementById('skip').addEventListener('click', (ev) => {
    ev.preventDefault();
    (document.getElementById('page-title') ?? main).focus();
});
window.addEventListener('hashchange', () => {
    if (!location.hash.startsWith('#/') && location.hash !== '') return;
    route();
    document.getElementById('page-title')?.focus();
});

setLanguage(language());
route();
renderHeader();
start();
