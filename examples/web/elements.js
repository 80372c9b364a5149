// The todo app's components as custom elements. Each renders its props (attributes, or the
// properties it defines) into its own shadow root, shows its children through <slot>s, and
// fires the events the server's handlers listen for (`press`, `change`, `submit`) as
// CustomEvents. Text is only ever set as text.

const css = (/** @type {string} */ text) => {
  const sheet = new CSSStyleSheet();
  sheet.replaceSync(text);
  return sheet;
};

/** @param {HTMLElement} host @param {CSSStyleSheet} sheet @param {(root: ShadowRoot) => void} fill */
function shadow(host, sheet, fill) {
  const root = host.attachShadow({ mode: 'open' });
  root.adoptedStyleSheets = [sheet];
  fill(root);
  return root;
}

/** @param {string} tag @param {Record<string, string>} [attrs] @param {Node[]} [kids] */
function h(tag, attrs = {}, kids = []) {
  const el = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs)) el.setAttribute(k, v);
  el.append(...kids);
  return el;
}

const appSheet = css(`
  :host { display: block; max-width: 36rem; margin: 2rem auto; font: 16px system-ui, sans-serif; }
  h1 { font-weight: 300; font-size: 2.2rem; margin: 0 0 .2rem; color: var(--accent, teal); }
  .sub { color: #777; margin: 0 0 1rem; min-height: 1.2em; }
  .items { display: flex; flex-direction: column; gap: .25rem; margin: 1rem 0; }
  footer { display: flex; gap: .5rem; align-items: center; color: #555; }
`);

class TodoApp extends HTMLElement {
  static observedAttributes = ['title', 'subtitle', 'theme'];
  constructor() {
    super();
    shadow(this, appSheet, (root) => root.append(
      h('h1', { part: 'title' }), h('p', { class: 'sub', part: 'subtitle' }),
      h('slot', { name: 'header' }), h('div', { class: 'items' }, [h('slot', { name: 'items' })]),
      h('footer', {}, [h('slot', { name: 'footer' })]),
    ));
  }
  attributeChangedCallback() {
    const root = /** @type {ShadowRoot} */ (this.shadowRoot);
    /** @type {HTMLElement} */ (root.querySelector('h1')).textContent = this.getAttribute('title') ?? '';
    /** @type {HTMLElement} */ (root.querySelector('.sub')).textContent = this.getAttribute('subtitle') ?? '';
    try {
      const theme = JSON.parse(this.getAttribute('theme') ?? '{}');
      if (typeof theme.accent === 'string') this.style.setProperty('--accent', theme.accent);
    } catch {
      // a theme that is not JSON changes nothing
    }
  }
}

const inputSheet = css(`
  input { box-sizing: border-box; width: 100%; font: inherit; padding: .6rem .8rem; border: 1px solid #ccc; border-radius: 6px; }
`);

class TodoInput extends HTMLElement {
  static observedAttributes = ['placeholder'];
  constructor() {
    super();
    this.input = h('input', { type: 'text', part: 'input' });
    const form = h('form', {}, [this.input]);
    form.addEventListener('submit', (ev) => {
      ev.preventDefault();
      const text = this.input.value.trim();
      if (!text) return;
      this.dispatchEvent(new CustomEvent('submit', { detail: text }));
      this.input.value = '';
      this.dispatchEvent(new Event('input'));
    });
    shadow(this, inputSheet, (root) => root.append(form));
  }
  get value() { return this.input.value; }
  set value(v) { this.input.value = v ?? ''; }
  get maxLength() { return this.input.maxLength; }
  set maxLength(n) { this.input.maxLength = n; }
  attributeChangedCallback() { this.input.placeholder = this.getAttribute('placeholder') ?? ''; }
  focus() { this.input.focus(); }
}

const rowSheet = css(`
  :host { display: flex; align-items: center; gap: .6rem; padding: .4rem .6rem; border-bottom: 1px solid #eee; }
  :host([done]) { opacity: .6; }
  .tags { margin-left: auto; display: flex; gap: .25rem; }
  .tag { font-size: .75rem; background: #eef; border-radius: 4px; padding: 0 .3rem; }
`);

class TodoRow extends HTMLElement {
  constructor() {
    super();
    /** @type {string[]} */
    this._tags = [];
    this.tagBox = h('span', { class: 'tags', part: 'tags' });
    shadow(this, rowSheet, (root) => root.append(h('slot'), this.tagBox));
  }
  get tags() { return this._tags; }
  set tags(list) {
    this._tags = Array.isArray(list) ? list : [];
    this.tagBox.replaceChildren(...this._tags.map((t) => h('span', { class: 'tag' }, [document.createTextNode(String(t))])));
  }
}

const checkSheet = css(`
  button { width: 1.3rem; height: 1.3rem; border: 1px solid #999; border-radius: 4px; background: white; cursor: pointer; padding: 0; }
  button[aria-checked="true"]::after { content: "✓"; color: teal; }
`);

class TodoCheck extends HTMLElement {
  constructor() {
    super();
    this._checked = false;
    this.box = h('button', { role: 'checkbox', 'aria-checked': 'false', part: 'box' });
    // the handler decides what a click does (it toggles `checked` and tells the server)
    this.box.addEventListener('click', () => this.dispatchEvent(new CustomEvent('change', { detail: !this._checked })));
    shadow(this, checkSheet, (root) => root.append(this.box));
  }
  get checked() { return this._checked; }
  set checked(v) {
    this._checked = Boolean(v);
    this.box.setAttribute('aria-checked', String(this._checked));
  }
}

const textSheet = css(`:host([struck]) span { text-decoration: line-through; }`);

class TodoText extends HTMLElement {
  static observedAttributes = ['text'];
  constructor() {
    super();
    this.span = h('span', { part: 'text' });
    shadow(this, textSheet, (root) => root.append(this.span));
  }
  attributeChangedCallback() { this.span.textContent = this.getAttribute('text') ?? ''; }
}

const buttonSheet = css(`
  button { font: inherit; font-size: .85rem; border: 1px solid #ccc; border-radius: 5px; background: white; cursor: pointer; padding: .15rem .6rem; }
  :host([variant="danger"]) button { color: #b00; }
  :host([selected]) button { border-color: teal; color: teal; }
`);

class TodoButton extends HTMLElement {
  static observedAttributes = ['label', 'count'];
  constructor() {
    super();
    this.button = h('button', { part: 'button' });
    this.button.addEventListener('click', () => this.dispatchEvent(new CustomEvent('press')));
    shadow(this, buttonSheet, (root) => root.append(this.button));
  }
  attributeChangedCallback() {
    const count = this.getAttribute('count');
    this.button.textContent = (this.getAttribute('label') ?? '') + (count === null ? '' : ` (${count})`);
  }
}

class TodoCount extends HTMLElement {
  static observedAttributes = ['left'];
  attributeChangedCallback() {
    const n = Number(this.getAttribute('left') ?? 0);
    this.textContent = `${n} ${n === 1 ? 'item' : 'items'} left`;
  }
}

customElements.define('todo-app', TodoApp);
customElements.define('todo-input', TodoInput);
customElements.define('todo-row', TodoRow);
customElements.define('todo-check', TodoCheck);
customElements.define('todo-text', TodoText);
customElements.define('todo-button', TodoButton);
customElements.define('todo-filter', class TodoFilter extends TodoButton {});
customElements.define('todo-count', TodoCount);
