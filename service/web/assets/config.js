// The stored configuration: rate, the two delays and the three options, with the window's
// ranges, checked here before anything is sent.
import { boardPath, request } from './api.js';
import { announce, block, h, isBlocked, uniqueId } from './dom.js';
import { t } from './i18n.js';
import { changed, errorText, mergeBoard, store, whyBlocked } from './store.js';

export const kRates = [300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 28800, 38400, 57600, 76800, 115200, 230400];
const kRetryRange = [1, 65535];
const kErrorRange = [2, 65535];

function delayGroup(name, legendKey, secondsKey, offKey, range) {
    const group = uniqueId(name);
    const onRadio = h('input', { type: 'radio', name: group, value: 'on', id: `${group}-on` });
    const offRadio = h('input', { type: 'radio', name: group, value: 'off', id: `${group}-off` });
    const seconds = h('input', {
        type: 'number', inputmode: 'numeric', min: range[0], max: range[1], step: 1,
        id: `${group}-s`, class: 'seconds', required: true,
    });
    const legend = h('legend');
    const onLabel = h('label', { for: `${group}-on` });
    const secLabel = h('label', { for: `${group}-s` });
    const offLabel = h('label', { for: `${group}-off` });
    const el = h('fieldset', { class: 'delay' }, legend,
        h('div', { class: 'row' }, onRadio, onLabel, seconds, secLabel),
        h('div', { class: 'row' }, offRadio, offLabel));
    const sync = () => (seconds.disabled = offRadio.checked);
    onRadio.addEventListener('change', sync);
    offRadio.addEventListener('change', sync);
    return {
        el,
        texts() {
            legend.textContent = t(legendKey);
            onLabel.textContent = t('retryAfter');
            secLabel.textContent = t(secondsKey);
            offLabel.textContent = t(offKey);
        },
        set(off, value) {
            offRadio.checked = off;
            onRadio.checked = !off;
            seconds.value = value;
            sync();
        },
        read(field) {
            const off = offRadio.checked;
            const v = Number(seconds.value);
            if (!off && !(Number.isInteger(v) && v >= range[0] && v <= range[1])) {
                return { error: t('badRange', { field, min: range[0], max: range[1] }), focus: seconds };
            }
            return { off, value: Number.isInteger(v) && v >= range[0] && v <= range[1] ? v : null };
        },
    };
}

export function configForm(b) {
    const rateId = uniqueId('rate');
    const rate = h('select', { id: rateId });
    const rateLabel = h('label', { for: rateId });
    const retry = delayGroup('retry', 'retry', 'retrySeconds', 'retryOff', kRetryRange);
    const errors = delayGroup('err', 'errorReport', 'errorSeconds', 'errorOff', kErrorRange);
    const keepId = uniqueId('keep');
    const keep = h('input', { type: 'checkbox', id: keepId });
    const keepLabel = h('label', { for: keepId });
    const save = h('button', { type: 'submit', value: 'save', class: 'primary' });
    const saveReset = h('button', { type: 'submit', value: 'reset' });
    const reset = h('button', { type: 'button', class: 'secondary' });
    const resetHint = h('span', { class: 'hint' });
    const whyId = uniqueId('cfg-why');
    const why = h('p', { class: 'why', id: whyId, hidden: true });
    const message = h('p', { class: 'message', role: 'status' });
    const heading = h('h2', { class: 'bar' });
    const form = h('form', { class: 'config', novalidate: true },
        h('div', { class: 'row' }, rateLabel, rate), retry.el, errors.el,
        h('div', { class: 'row check' }, keep, keepLabel),
        h('div', { class: 'buttons' }, save, saveReset), why,
        h('div', { class: 'buttons' }, reset, resetHint), message);
    for (const btn of [save, saveReset, reset]) btn.setAttribute('aria-describedby', whyId);
    const el = h('section', { class: 'section', 'aria-labelledby': '' }, heading, form);
    const headingId = uniqueId('cfg-h');
    heading.id = headingId;
    el.setAttribute('aria-labelledby', headingId);

    let dirty = false;
    let busy = false;
    let shown = '';
    form.addEventListener('input', () => (dirty = true));

    function fill(cfg) {
        rate.replaceChildren(...kRates.map((r) => h('option', { value: r, text: String(r) })));
        const known = kRates.includes(cfg?.baud);
        if (!known) rate.append(h('option', { value: '', text: t('baudUnknown'), disabled: true }));
        rate.value = known ? String(cfg.baud) : '';
        if (cfg) {
            retry.set(!!cfg.retry_off, cfg.retry_delay ?? 1);
            errors.set(!!cfg.error_report_off, cfg.error_report_delay ?? 2);
            keep.checked = !!cfg.keep_relays;
        }
        dirty = false;
        shown = JSON.stringify(cfg ?? null);
    }

    function show(text, isError) {
        message.textContent = text;
        message.classList.toggle('error', !!isError);
        if (text) announce(text);
    }

    async function send(withReset) {
        const cur = store.boards.get(b.id);
        const rateValue = Number(rate.value);
        if (!kRates.includes(rateValue)) {
            show(t('badRate'), true);
            rate.focus();
            return;
        }
        const r = retry.read(t('retry').replace(/:$/, ''));
        const e = errors.read(t('errorReport').replace(/:$/, ''));
        const bad = [r, e].find((x) => x.error);
        if (bad) {
            show(bad.error, true);
            bad.focus.focus();
            return;
        }
        const cfg = cur.config ?? {};
        const body = {
            baud: rateValue,
            retry_off: r.off,
            retry_delay: r.value ?? cfg.retry_delay,
            error_report_off: e.off,
            error_report_delay: e.value ?? cfg.error_report_delay,
            keep_relays: keep.checked,
        };
        if (withReset) body.reset = true;
        busy = true;
        update(cur);
        try {
            const { data } = await request('PUT', `${boardPath(b.id)}/config`, { json: body });
            mergeBoard({ id: b.id, config: data?.config ?? { ...cfg, ...body } });
            fill(store.boards.get(b.id).config);
            show(t(withReset ? 'savedReset' : 'saved'));
        } catch (err) {
            if (err.status === 403 && store.role === undefined) store.denied.admin = true;
            show(errorText(err), true);
        } finally {
            busy = false;
            changed({ board: b.id });
        }
    }

    form.addEventListener('submit', (ev) => {
        ev.preventDefault();
        const btn = ev.submitter;
        if (isBlocked(btn) || busy) {
            if (btn.title) announce(btn.title);
            return;
        }
        send(btn === saveReset);
    });
    reset.addEventListener('click', async () => {
        if (isBlocked(reset) || busy) {
            if (reset.title) announce(reset.title);
            return;
        }
        busy = true;
        update(store.boards.get(b.id));
        try {
            await request('POST', `${boardPath(b.id)}/reset`, { json: {} });
            show(t('resetDone'));
            dirty = false;
        } catch (err) {
            if (err.status === 403 && store.role === undefined) store.denied.admin = true;
            show(errorText(err), true);
        } finally {
            busy = false;
            changed({ board: b.id });
        }
    });

    function update(cur) {
        heading.textContent = t('cfgTop');
        rateLabel.textContent = t('baud');
        retry.texts();
        errors.texts();
        keepLabel.textContent = t('keepRelays');
        save.textContent = t('save');
        saveReset.textContent = t('saveReset');
        reset.textContent = t('reset');
        resetHint.textContent = t('resetHint');
        if (!dirty && cur.config && JSON.stringify(cur.config) !== shown) fill(cur.config);
        const reason = whyBlocked(cur, 'admin');
        for (const btn of [save, saveReset, reset]) {
            block(btn, reason);
            btn.toggleAttribute('aria-busy', busy);
        }
        why.textContent = reason ?? '';
        why.hidden = !reason;
    }
    fill(b.config);
    update(b);
    return { el, update };
}
