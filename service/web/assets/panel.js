// A board's eight relays, eight inputs and supply, as the window's control page shows them.
import { boardPath, request } from './api.js';
import { announce, block, h, isBlocked, uniqueId } from './dom.js';
import { t, volts } from './i18n.js';
import { changed, errorText, mergeBoard, store, whyBlocked } from './store.js';

const bit = (mask, n) => ((mask >> (n - 1)) & 1) === 1;

async function switchRelay(b, n) {
    if (b.pending.has(n)) return;
    const want = !bit(b.relays, n);
    b.pending.set(n, want);
    b.relayError = '';
    changed({ board: b.id });
    try {
        const { data } = await request('PUT', `${boardPath(b.id)}/relays/${n}`, {
            json: { state: want ? 'on' : 'off' },
        });
        const mask = typeof data?.relays === 'number' ? data.relays : typeof data?.mask === 'number' ? data.mask : null;
        b.relays = mask ?? (want ? b.relays | (1 << (n - 1)) : b.relays & ~(1 << (n - 1)));
    } catch (e) {
        if (e.status === 403 && store.role === undefined) store.denied.operate = true;
        if (e.status === 503) mergeBoard({ id: b.id, state: 'offline' });
        b.relayError = t('relayFailed', { n, error: errorText(e) });
        announce(b.relayError);
    } finally {
        b.pending.delete(n);
        changed({ board: b.id });
    }
}

export function boardPanel(b) {
    const noteId = uniqueId('relay-why');
    const note = h('p', { class: 'why', id: noteId, hidden: true });
    const relayButtons = [];
    const inputItems = [];
    for (let n = 1; n <= 8; ++n) {
        const btn = h('button', {
            type: 'button',
            class: 'led-button',
            role: 'switch',
            'aria-checked': 'false',
            'aria-describedby': noteId,
            'data-relay': n,
            onclick: () => {
                const cur = store.boards.get(b.id);
                if (isBlocked(btn)) {
                    announce(btn.title);
                    return;
                }
                switchRelay(cur, n);
            },
        }, h('span', { class: 'led', 'aria-hidden': 'true' }), h('span', { class: 'caption' }));
        relayButtons.push(btn);
        inputItems.push(h('li', { class: 'led-item', 'data-input': n },
            h('span', { class: 'led', 'aria-hidden': 'true' }), h('span', { class: 'caption' }),
            h('span', { class: 'visually-hidden' })));
    }
    const relayHeading = h('h3', { class: 'group-title' });
    const inputHeading = h('h3', { class: 'group-title' });
    const vccHeading = h('h3', { class: 'group-title' });
    const vcc = h('p', { class: 'vcc', 'data-vcc': '' });
    const error = h('p', { class: 'error', role: 'alert', hidden: true });
    const el = h('div', { class: 'panel' },
        h('section', { class: 'group relays', 'aria-label': '' }, relayHeading, h('div', { class: 'leds' }, relayButtons), note, error),
        h('section', { class: 'group inputs' }, inputHeading, h('ul', { class: 'leds' }, inputItems)),
        h('section', { class: 'group supply' }, vccHeading, vcc));

    function update(cur) {
        relayHeading.textContent = t('relays');
        inputHeading.textContent = t('inputs');
        vccHeading.textContent = t('vcc');
        el.children[0].setAttribute('aria-label', `${cur.name}: ${t('relays')}`);
        el.children[1].setAttribute('aria-label', `${cur.name}: ${t('inputs')}`);
        const why = whyBlocked(cur, 'operate');
        relayButtons.forEach((btn, i) => {
            const n = i + 1;
            const pending = cur.pending.has(n);
            const on = pending ? cur.pending.get(n) : bit(cur.relays, n);
            btn.dataset.state = pending ? 'pending' : on ? 'on' : 'off';
            btn.setAttribute('aria-checked', String(bit(cur.relays, n)));
            btn.toggleAttribute('aria-busy', pending);
            btn.querySelector('.caption').textContent = t('relay', { n });
            block(btn, why);
        });
        note.textContent = why ?? '';
        note.hidden = !why;
        error.textContent = cur.relayError ?? '';
        error.hidden = !cur.relayError;
        inputItems.forEach((li, i) => {
            const on = bit(cur.inputs, i + 1);
            li.dataset.state = on ? 'on' : 'off';
            li.querySelector('.caption').textContent = t('input', { n: i + 1 });
            li.querySelector('.visually-hidden').textContent = `: ${t(on ? 'active' : 'inactive')}`;
        });
        if (cur.supply && cur.state === 'online') {
            vcc.textContent = volts(cur.supply.volts);
            vcc.dataset.range = cur.supply.inRange ? 'good' : 'bad';
            vcc.title = t(cur.supply.inRange ? 'vccGood' : 'vccBad');
        } else {
            vcc.textContent = volts(0);
            vcc.dataset.range = 'bad';
            vcc.title = '';
        }
    }
    update(b);
    return { el, update };
}
