// Element building without innerHTML: every text goes in as text.
export function h(tag, props = {}, ...children) {
    const el = document.createElement(tag);
    for (const [k, v] of Object.entries(props)) {
        if (v === null || v === undefined || v === false) continue;
        if (k === 'class') el.className = v;
        else if (k === 'text') el.textContent = v;
        else if (k.startsWith('on') && typeof v === 'function') el.addEventListener(k.slice(2), v);
        else el.setAttribute(k, v === true ? '' : String(v));
    }
    el.append(...children.flat().filter((c) => c !== null && c !== undefined && c !== false));
    return el;
}

let uid = 0;
export function uniqueId(prefix) {
    uid += 1;
    return `${prefix}-${uid}`;
}

// Marks a control unusable but keeps it in the tab order, so keyboard and screen reader users
// can reach it and hear why (a disabled button would be skipped).
export function block(el, reason, noteEl) {
    if (reason) {
        el.setAttribute('aria-disabled', 'true');
        el.title = reason;
    } else {
        el.removeAttribute('aria-disabled');
        el.removeAttribute('title');
    }
    if (noteEl) {
        noteEl.textContent = reason ?? '';
        noteEl.hidden = !reason;
    }
}

export function isBlocked(el) {
    return el.getAttribute('aria-disabled') === 'true';
}

export function announce(text) {
    const region = document.getElementById('announce');
    if (!region) return;
    region.textContent = '';
    // A fresh text node after a turn, so a repeated message is read again.
    setTimeout(() => (region.textContent = text), 50);
}
