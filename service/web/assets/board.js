// One board: its identity and every field the window shows, its configuration and firmware.
import { configForm } from './config.js';
import { h } from './dom.js';
import { firmwarePanel } from './firmware.js';
import { t } from './i18n.js';
import { factList, facts } from './overview.js';
import { boardPanel } from './panel.js';
import { store } from './store.js';

function identityRows(b) {
    return [['identity', b.identity || t('unknown')], ['firmwareVersion', b.firmware || t('unknown')]];
}

export function boardView(id) {
    const back = h('a', { href: '#/', class: 'back' });
    const heading = h('h1', { id: 'page-title', tabindex: '-1' });
    const el = h('div', { class: 'board-page' }, back, heading);
    let parts = null;

    function build(b) {
        const ident = factList(identityRows(b));
        const list = factList(facts(b, true));
        const panel = boardPanel(b);
        const config = configForm(b);
        const fw = firmwarePanel(b.id);
        el.dataset.board = b.id;
        const controlHeading = h('h2', { class: 'bar' });
        el.append(h('section', { class: 'section' }, ident.el, list.el),
            h('section', { class: 'section control' }, controlHeading, panel.el), config.el, fw.el);
        parts = { ident, list, panel, config, fw, controlHeading };
    }

    function update() {
        back.textContent = `← ${t('back')}`;
        const b = store.boards.get(id);
        if (!b) {
            heading.textContent = store.loaded ? t('notFound') : t('loading');
            return;
        }
        heading.textContent = b.name;
        if (!parts) build(b);
        parts.controlHeading.textContent = t('controlTop');
        parts.ident.fill(identityRows(b));
        parts.list.fill(facts(b, true));
        parts.panel.update(b);
        parts.config.update(b);
        parts.fw.update();
    }
    update();
    return {
        el,
        update: (what) => (what.all || what.board === id) && update(),
        get title() {
            return store.boards.get(id)?.name ?? id;
        },
    };
}
