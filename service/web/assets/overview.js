// Every board of the service at a glance.
import { h } from './dom.js';
import { firmwarePanel } from './firmware.js';
import { t } from './i18n.js';
import { boardPanel } from './panel.js';
import { store } from './store.js';

export function facts(b, withDevice) {
    const rows = [
        ['port', b.port ?? b.device ?? '–'],
        ...(withDevice ? [['device', b.device ?? '–']] : []),
        ['rate', b.baud ? `${b.baud} Bd` : '–'],
        ['state', t(b.state) ?? b.state],
        // A board's page shows the version beside its identity, as the window does.
        ...(withDevice ? [] : [['firmware', b.firmware || t('unknown')]]),
    ];
    return rows;
}

export function factList(rows) {
    const dl = h('dl', { class: 'facts' });
    const fill = (values) => {
        dl.replaceChildren(...values.flatMap(([k, v]) => [h('dt', { text: t(k) }),
            h('dd', { text: v, 'data-field': k })]));
    };
    fill(rows);
    return { el: dl, fill };
}

function boardCard(b) {
    const link = h('a', { href: `#/board/${encodeURIComponent(b.id)}` });
    const title = h('h2', { class: 'card-title' }, link);
    const badge = h('span', { class: 'badge' });
    const list = factList(facts(b));
    const panel = boardPanel(b);
    const problem = h('p', { class: 'problem', hidden: true });
    const el = h('article', { class: 'card', 'data-board': b.id }, h('header', { class: 'card-head' }, title, badge), list.el, problem, panel.el);
    function update(cur) {
        link.textContent = cur.name;
        link.setAttribute('aria-label', t('details', { name: cur.name }));
        badge.textContent = t(cur.state);
        badge.dataset.state = cur.state;
        el.dataset.state = cur.state;
        list.fill(facts(cur));
        problem.textContent = cur.state !== 'online' ? cur.problem ?? '' : '';
        problem.hidden = !problem.textContent;
        panel.update(cur);
    }
    update(b);
    return { el, update };
}

export function overviewView() {
    const cards = new Map();
    const list = h('div', { class: 'cards' });
    const status = h('p', { class: 'status' });
    const fw = firmwarePanel(null);
    const heading = h('h1', { id: 'page-title', tabindex: '-1', text: t('overview') });
    const el = h('div', { class: 'overview' }, heading, status, list, fw.el);

    function update(what) {
        if (what.all) {
            status.textContent = store.loaded ? (store.order.length ? '' : t('noBoards')) : t('loading');
            status.hidden = !status.textContent;
            for (const id of store.order) {
                const b = store.boards.get(id);
                if (!cards.has(id)) {
                    const card = boardCard(b);
                    cards.set(id, card);
                    list.append(card.el);
                } else {
                    cards.get(id).update(b);
                }
            }
            fw.update();
        } else if (cards.has(what.board)) {
            cards.get(what.board).update(store.boards.get(what.board));
            fw.update();
        }
    }
    update({ all: true });
    return { el, update, title: t('overview') };
}
